#pragma once
// The file host's PNG files, encoded on both cores straight from the planes (png_encoder.h), a
// strip of rows at a time, with no whole picture composed first. The file is what Qt's own PNG
// writer makes of the picture compose_picture or compose_deep_picture would compose: the same
// colour type and depth, and the same colour profile, resolution and text chunks, which are taken
// from Qt's encoding of a one-pixel picture with that format and metadata. So it reads back as
// Qt's file would, pixel for pixel and trait for trait; only its compression differs.

#include <QByteArray>
#include <QImage>
#include <functional>
#include <vector>

#include "file/png_chunk_carry.h"
#include "file/png_encoder.h"
#include "file/qt_image_file.h"

namespace tarvo {

class RowHelper;

// The PNG file of image (or, for a file of more than 8 bits a channel, of deep, its exact pixels
// as 16-bit RGBA, with image's alpha plane saying whether alpha is written). progress is told the
// fraction encoded so far, on the calling thread. Throws RuntimeError 7 when out of memory.
QByteArray encode_png_file(const ImagePlanes& image, const QImage& deep,
                           const ImageFileTraits& traits, RowHelper* helper,
                           const std::function<void(double)>& progress = {});

// The same file handed to out as it is encoded, a strip at a time (encode_png_to), so that neither
// it nor the picture is ever held whole. With carried, the ancillary chunks of the PNG file it
// replaces (read_png_chunks_but_image_data), the file takes those instead of Qt's, placed as
// carry_png_chunks places them (with carry's options): the file carry_metadata makes of the
// encoded one and the original.
void stream_png_file(const ImagePlanes& image, const QImage& deep, const ImageFileTraits& traits,
                     RowHelper* helper, const std::vector<PngChunk>* carried,
                     const PngCarryOptions& carry, const std::function<void(double)>& progress,
                     const PngBytesSink& out);

}  // namespace tarvo
