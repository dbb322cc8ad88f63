// What the GIMP plug-in of tarvo_bench measures, the same under every GIMP version (each version's
// entry point, gimp2_bench_plugin.cpp or gimp3_bench_plugin.cpp, registers the procedure): inside
// the plug-in process GIMP starts, it times the GIMP host's fetch of a layer up to the canvas's
// first frame and its whole-image write-back, each beside GIMP's own read and write of the same
// pixels, and writes the figures to a file.
//
// plug-in-tarvo-bench (run-mode, image, drawable, output path, iterations). The output holds one
// line per iteration: fetch_ms read_ms send_ms write_ms (iterations alternate which side reads
// first, since libgimp keeps the tiles it has fetched), where
//   fetch_ms  Main with the GIMP host, up to the first full frame in a 1920 x 1080 client;
//   read_ms   gegl_buffer_get of the whole layer as 8-bit RGB, as the host reads it, into memory
//             allocated for it as a filter's would be;
//   send_ms   the write-back (Wik_SaveUndo .. wik_Refresh) of planes in which every pixel differs;
//   write_ms  gegl_buffer_set of the whole layer into its shadow buffer in the layer's own format,
//             then the merge as one undo step and the update: how a GIMP filter writes its result.
#include "gimp_bench_measure.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "../loading_window.h"
#include "app/exchange.h"
#include "app/startup.h"
#include "canvas/undo_stack.h"
#include "core/program.h"
#include "gimp/gimp_api.h"
#include "gimp/gimp_host.h"

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

GeglRectangle whole(int32_t drawable) {
  return GeglRectangle{0, 0, tarvo::gimp_api::width(drawable), tarvo::gimp_api::height(drawable)};
}

// Like a filter that reads the layer, the destination is allocated as part of the read.
double gimp_read_ms(int32_t drawable) {
  const GeglRectangle area = whole(drawable);
  const auto start = Clock::now();
  std::unique_ptr<uint8_t[]> pixels(
      new uint8_t[static_cast<std::size_t>(area.width) * area.height * 3]);
  GeglBuffer* buffer = tarvo::gimp_api::buffer(drawable);
  const Babl* rgb = babl_format_with_space("R'G'B' u8", tarvo::gimp_api::format(drawable));
  gegl_buffer_get(buffer, &area, 1.0, rgb, pixels.get(), area.width * 3, GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  const double took = milliseconds_since(start);
  pixels.reset();
  return took;
}

double gimp_write_ms(int32_t image, int32_t drawable) {
  const GeglRectangle area = whole(drawable);
  const Babl* native = tarvo::gimp_api::format(drawable);
  const int bytes = babl_format_get_bytes_per_pixel(native);
  std::vector<uint8_t> pixels(static_cast<std::size_t>(area.width) * area.height * bytes);
  GeglBuffer* source = tarvo::gimp_api::buffer(drawable);
  gegl_buffer_get(source, &area, 1.0, native, pixels.data(), area.width * bytes, GEGL_ABYSS_NONE);
  g_object_unref(source);
  for (uint8_t& byte : pixels) byte = static_cast<uint8_t>(255 - byte);
  const auto start = Clock::now();
  GeglBuffer* shadow = tarvo::gimp_api::shadow_buffer(drawable);
  gegl_buffer_set(shadow, &area, 0, native, pixels.data(), area.width * bytes);
  gegl_buffer_flush(shadow);
  g_object_unref(shadow);
  tarvo::gimp_api::undo_group_start(image);
  tarvo::gimp_api::merge_shadow(drawable);
  tarvo::gimp_api::undo_group_end(image);
  tarvo::gimp_api::update(drawable, 0, 0, area.width, area.height);
  return milliseconds_since(start);
}

void invert(tarvo::Plane& plane) {
  uint8_t* bytes = plane.data();
  for (std::size_t i = 0; i < plane.size(); ++i) bytes[i] = static_cast<uint8_t>(255 - bytes[i]);
}

// One iteration: the host's fetch and GIMP's read, the host's send and GIMP's write. libgimp keeps
// the tiles it has fetched, which favours whichever side reads second: iterations alternate which
// side reads first.
void measure(int32_t image, int32_t drawable, bool gimp_reads_first, FILE* out) {
  tarvo::HostRegistry registry;
  registry.register_host(tarvo::kHostProgId, [=]() -> std::unique_ptr<tarvo::Host> {
    tarvo::GimpHostOptions options;
    options.image = image;
    options.drawable = drawable;
    options.show_progress = false;
    return std::make_unique<tarvo::GimpHost>(options);
  });
  double read = gimp_reads_first ? gimp_read_ms(drawable) : 0.0;
  auto start = Clock::now();
  auto program = std::make_unique<tarvo::Program>();
  program->undo.byte_budget = tarvo::default_undo_budget();
  std::unique_ptr<tarvo::bench::LoadingWindow> window;
  tarvo::Main(*program, registry, [&window](tarvo::Program& p) -> tarvo::CanvasWindow& {
    window = std::make_unique<tarvo::bench::LoadingWindow>(p);
    return *window;
  });
  const double fetch = milliseconds_since(start);
  if (!gimp_reads_first) read = gimp_read_ms(drawable);
  for (tarvo::Plane* plane :
       {&program->canvas.RBuffer, &program->canvas.GBuffer, &program->canvas.BBuffer}) {
    invert(*plane);
  }
  start = Clock::now();
  tarvo::SendImage(*program);
  const double send = milliseconds_since(start);
  const double write = gimp_write_ms(image, drawable);
  std::fprintf(out, "%.3f %.3f %.3f %.3f\n", fetch, read, send, write);
}

}  // namespace

bool run_gimp_bench(int32_t image, int32_t drawable, const char* output, int iterations) {
  gegl_init(nullptr, nullptr);
  FILE* out = std::fopen(output, "w");
  if (!out) return false;
  bool done = false;
  try {
    for (int i = 0; i < iterations; ++i) measure(image, drawable, i % 2 == 0, out);
    done = true;
  } catch (const std::exception& error) {
    std::fprintf(out, "error %s\n", error.what());
  }
  std::fclose(out);
  return done;
}
