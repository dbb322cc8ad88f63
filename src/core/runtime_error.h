#pragma once
// An error the program does not trap: it carries the number and description that the top level
// reports as "Run-time error 'N':" before the program ends.

#include <stdexcept>
#include <string>

namespace tarvo {

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

// The numbers the program raises itself.
namespace error_number {
constexpr int kOutOfMemory = 7;
constexpr int kFileNotFound = 53;
constexpr int kBadFileFormat = 321;
constexpr int kCannotCreateObject = 429;
constexpr int kHostCallFailed = 440;
constexpr int kSurfaceOutOfMemory = 31001;
}  // namespace error_number

// A write-back that did not reach the host's image: the file or layer could not be written, or was
// changed elsewhere and the user chose not to overwrite it, or the host itself is gone (GIMP quit,
// the image was closed), which any host call may then raise. The painting stays on the canvas, and
// the user has been told where a copy of it is kept. Unlike other errors it does not end the
// program: the user keeps painting, or the close ends without writing.
class ImageNotWritten : public RuntimeError {
 public:
  // keep_painting: someone was asked and chose to keep the canvas open; otherwise there was no one
  // to ask.
  ImageNotWritten(const std::string& description, bool keep_painting)
      : RuntimeError(error_number::kHostCallFailed, description), keep_painting_(keep_painting) {}
  bool keep_painting() const { return keep_painting_; }

 private:
  bool keep_painting_;
};

// A write-back that found the host's image changed elsewhere since the canvas read or wrote it,
// where the user chose to have the session's strokes since then painted onto the image as it is
// now. Whoever sends the image fetches it, plays those strokes again and sends once more; a caller
// that cannot leaves the canvas open as for any other image not written.
//
// A host whose image was scaled elsewhere asks with the ratios of its new width and height to the
// canvas's: the image is then fetched at its new size, and the strokes are painted onto it with
// their positions and brush sizes multiplied by the ratios.
class RepaintOntoHostImage : public ImageNotWritten {
 public:
  explicit RepaintOntoHostImage(const std::string& description, double scale_x = 1.0,
                                double scale_y = 1.0)
      : ImageNotWritten(description, true), scale_x_(scale_x), scale_y_(scale_y) {}
  double scale_x() const { return scale_x_; }
  double scale_y() const { return scale_y_; }

 private:
  double scale_x_, scale_y_;
};

// The report text of an error: "Run-time error 'N':" on one line, then the description.
std::string run_time_error_report(const RuntimeError& error);

}  // namespace tarvo
