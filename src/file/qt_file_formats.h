#pragma once
// Image formats and file names as the file host uses them.

#include <QByteArray>
#include <QString>

namespace tarvo {

// Raises RuntimeError number with the text what.
[[noreturn]] void raise_file_error(int number, const QString& what);

bool is_writable_format(const QByteArray& format);
bool is_readable_format(const QByteArray& format);
// A file of our making is written in the format its suffix names, else in fallback. Raises
// RuntimeError 321 when the suffix names a format that can be read but not written.
QByteArray format_for_suffix(const QString& path, const QByteArray& fallback);
// Whether two paths name the same file.
bool same_file(const QString& a, const QString& b);

}  // namespace tarvo
