#include "app/qt_main.h"

#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/program.h"
#include "app/qt_application.h"
#include "app/qt_command_line.h"
#include "app/qt_file_host.h"
#include "canvas/qt_form1.h"

namespace tarvo {

namespace {

bool has_display() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display && *display) || (wayland && *wayland);
}

// A replay, the help and the version need no display: without one, the offscreen platform is
// chosen before Qt starts. Returns false, having said why, when the canvas needs a display and
// there is none.
bool choose_platform(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") || has_display()) return true;
  if (needs_no_display(argc, argv)) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
  }
  std::cerr << "tarvo: there is no display to open the canvas on (DISPLAY is not set).\n"
               "Run it on a desktop, under xvfb-run, or replay a script with --replay."
            << std::endl;
  return false;
}

FileHostOptions host_options(const CommandLine& line) {
  FileHostOptions options;
  options.image_path = line.image;
  options.paper_path = line.paper;
  options.wallpaper_path = line.wallpaper;
  options.new_image_size = line.new_image_size;
  return options;
}

}  // namespace

int run_tarvo(int argc, char** argv) {
  if (!choose_platform(argc, argv)) return 1;
  // A fast drag must deliver every motion sample: each one is a stroke point.
  QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
  QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, false);
  TarvoApplication app(argc, argv);
  const CommandLine line = parse_command_line(app.arguments());
  app.set_interactive(line.replay.isEmpty());

  HostRegistry registry;
  register_file_host(registry, host_options(line));

  Program program;
  std::unique_ptr<Form1> canvas;
  try {
    Main(program, registry, [&canvas](Program& p) -> CanvasWindow& {
      canvas = std::make_unique<Form1>(p);
      return *canvas;
    });
  } catch (const RuntimeError& error) {
    app.report(error);
    return 1;
  }
  if (app.failed()) return 1;
  const int status = app.exec();
  canvas.reset();
  return app.failed() ? 1 : status;
}

}  // namespace tarvo
