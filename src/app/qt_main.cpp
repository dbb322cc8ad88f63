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

// A replay needs no display: without one, the offscreen platform is chosen before Qt starts.
void choose_platform(int argc, char** argv) {
  if (!wants_replay(argc, argv) || std::getenv("QT_QPA_PLATFORM")) return;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display && *display) || (wayland && *wayland)) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
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
  choose_platform(argc, argv);
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
