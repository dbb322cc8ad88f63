// libFuzzer target: any bytes as an image file, through the file host's loading path. Either the
// image loads with planes of the size it reports, or the load raises RuntimeError.

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/runtime_error.h"
#include "file/qt_image_file.h"

namespace {

QString scratch_path() {
  static QTemporaryDir dir;
  return dir.path() + QStringLiteral("/input.img");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int argc = 1;
  static char name[] = "fuzz_image_load";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  const QString path = scratch_path();
  if (FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  // A small limit keeps a header that claims a huge image from costing the fuzzer its memory.
  tarvo::ImageLimits limits;
  limits.max_side = 2048;
  limits.max_pixels = 1 << 20;
  try {
    const tarvo::ImageFile file = tarvo::read_image_file(path, limits);
    const tarvo::HostImage& image = file.image;
    if (image.width() <= 0 || image.height() <= 0) std::abort();
    if (image.green.columns() != image.red.columns() || image.blue.rows() != image.red.rows())
      std::abort();
  } catch (const tarvo::RuntimeError&) {
  }
  return 0;
}
