#pragma once
// Reading a plain PNG (png_row_decoder.h: 8-bit grey, RGB or RGBA, not interlaced, no palette or
// transparency key) straight into the host's colour planes, a row at a time, its SHA-1 taken beside
// the decode: neither the file's bytes nor a decoded picture is ever held whole. What Qt would say
// of the file besides its pixels (colour space, text, resolution, orientation) it reads from a
// one-pixel PNG of the file's own chunks, so that those read exactly as from the whole file.

#include <QByteArray>
#include <QSize>
#include <QString>
#include <optional>

#include "file/png_row_decoder.h"
#include "file/qt_image_file.h"

namespace tarvo {

struct PlainPngFile {
  ImageFile file;  // its planes, copy, digests and checksum; the traits are the caller's to read
  PlainPng png;    // its header and the chunks around its image data
};

// The PNG at path, of the size its header gave, decoded into planes, with the copy and the row
// digests that copy asks for. None when the file is not plain, is damaged, changed while it was
// read, or could not be decoded this way for want of memory: it is then to be read as any other
// file, whose decoder says what is wrong with it.
std::optional<PlainPngFile> read_plain_png_rows(const QString& path, QSize size, PlaneCopy copy);

// The one-pixel PNG made of png's own chunks around a pixel of zeros: Qt reads it with the colour
// space, text, resolution and orientation it reads from the whole file.
QByteArray stand_in_png(const PlainPng& png);

}  // namespace tarvo
