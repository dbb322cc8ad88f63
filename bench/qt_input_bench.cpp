// Input to screen: the recorded session (painting30sec.dat) played into a real canvas window at
// the pen's own timing, and for each input event the time from its arrival to the moment the
// pixels it changed have been handed to the window system.
//
// The window is Form1 under an X server: the one in DISPLAY, or else an Xvfb (1920 x 1080, with
// openbox when it is installed) that the benchmark starts and stops; without either the benchmark
// skips with a message. Each workload runs in a child process of its own (child_process.h), which
// makes the application on the xcb platform. The brush is the Gel brush (rim curve, relief, mode
// Default) at size 32 with the built-in paper grain at strength 128, on a white image of 1024 x
// 1024 or 8192 x 8192 at zoom 1 or 4; at zoom 4 the view is centred on the session's strokes.
//
// Two more workloads are the 30 seconds after opening a large picture, with what runs beside the
// painting then: an 8000 x 6000 layer (as GIMP hands one over) and a 16384 x 16384 file at zoom 1,
// each with a session journal that starts over the picture as the canvas opens and again half way,
// as after a send. Over the layer the journal's base is a snapshot of the planes, written by the
// child that keeps them; over the file it is a copy of the file, which the file host vouches holds
// the planes: a photo-like picture (gradients and noise) written as a PNG at level 1 in the child
// before it is timed. Both phases (painted and baseline) start the journal the same way.
//
// A feeder thread sleeps until each sample's time, notes that moment as the event's arrival and
// posts the sample to the window's thread, where it becomes what a tablet packet and its pointer
// event do: the tablet state, then Form1's mouse_down, mouse_move or mouse_up (the entry points of
// live input and of the event-script player). An event whose handling changed client pixels is
// pending until the window's next update request has painted and flushed its backing store; the
// time from its arrival to the end of that flush is its latency. Events that changed nothing on
// screen (hovering, or paint outside the view) have none.
//
// Baseline, in the same child and the same window: the session played again at the same timing,
// where each event only marks the client rectangles its painted counterpart changed, so that the
// window repaints and flushes a frame that did not change.
//
// Figures: p50, p99 and max of the latencies in milliseconds, for both; the goal is a p99 under
// 4 ms. TARVO_BENCH_INPUT_SECONDS plays only the session's first seconds (the whole session, 30
// seconds a phase, by default), TARVO_BENCH_SESSION another copy of the session file.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/qt_application.h"
#include "canvas/canvas_buffers.h"
#include "canvas/display_surface.h"
#include "canvas/qt_form1.h"
#include "canvas/view_navigation.h"
#include "child_process.h"
#include "core/program.h"
#include "file/png_encoder.h"
#include "file/qt_image_file.h"
#include "photo_like.h"
#include "program_at_start.h"
#include "recovery/qt_journal.h"
#include "script/session_converter.h"
#include "summary.h"

namespace tarvo::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The recorded session; TARVO_BENCH_SESSION names another copy of it (a worktree whose
// ../shared/data is elsewhere).
std::string session_path() {
  const char* chosen = std::getenv("TARVO_BENCH_SESSION");
  return chosen ? chosen : TARVO_SHARED_DATA_DIR "/painting30sec.dat";
}
constexpr float kBrushSize = 32.0f;
constexpr int32_t kPaperStrength = 128;
constexpr int16_t kLeftButton = 1;

// ---- The X server ------------------------------------------------------------------------------

// The display the children use: DISPLAY as found, or an Xvfb started for the run (with openbox),
// stopped at exit. Empty, with the reason, when there is none.
struct XServer {
  std::string display, error;
  pid_t xvfb = -1, window_manager = -1;

  XServer() {
    if (const char* d = std::getenv("DISPLAY"); d != nullptr && *d != '\0') {
      display = d;
      return;
    }
    if (!std::filesystem::exists("/usr/bin/Xvfb")) {
      error = "no X server: DISPLAY is not set and Xvfb is not installed";
      return;
    }
    start_xvfb();
    if (display.empty()) return;
    setenv("DISPLAY", display.c_str(), 1);
    if (std::filesystem::exists("/usr/bin/openbox")) start_window_manager();
  }
  ~XServer() {
    for (pid_t pid : {window_manager, xvfb}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }

  // Xvfb picks a free display and writes its number to the pipe once it takes clients.
  void start_xvfb() {
    int fds[2];
    if (pipe(fds) != 0) {
      error = "cannot make a pipe for Xvfb";
      return;
    }
    const std::string fd = std::to_string(fds[1]);
    xvfb = fork();
    if (xvfb == 0) {
      close(fds[0]);
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp",
            "-screen", "0", "1920x1080x24", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (xvfb < 0 || number.empty()) {
      error = "Xvfb did not start";
      return;
    }
    display = ":" + number;
  }

  void start_window_manager() {
    window_manager = fork();
    if (window_manager == 0) {
      execl("/usr/bin/openbox", "openbox", static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // until it manages windows
  }
};

XServer& x_server() {
  static XServer server;
  return server;
}

// ---- The child: one workload -------------------------------------------------------------------

// The canvas window as the engine sees it, passing every call on to Form1 and noting whether the
// event being handled changed client pixels, and which.
class NotingWindow : public CanvasWindow {
 public:
  explicit NotingWindow(Form1& form) : form_(form) {}
  int32_t client_width() const override { return form_.client_width(); }
  int32_t client_height() const override { return form_.client_height(); }
  bool is_visible() const override { return form_.is_visible(); }
  WindowState window_state() const override { return form_.window_state(); }
  void set_caption(const std::string& caption) override { form_.set_caption(caption); }
  void fill_box(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override {
    form_.fill_box(x1, y1, x2, y2);
    changed.push_back(
        {std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1) + 1, std::abs(y2 - y1) + 1});
  }
  ClientPixels client_pixels() override { return form_.client_pixels(); }
  void client_pixels_changed(int32_t x, int32_t y, int32_t width, int32_t height) override {
    form_.client_pixels_changed(x, y, width, height);
    changed.push_back({x, y, width, height});
  }
  void set_pointer(PointerShape shape) override { form_.set_pointer(shape); }
  void resize_client(int32_t width, int32_t height) override { form_.resize_client(width, height); }
  void show_window() override { form_.show_window(); }
  bool ask_yes_no(const std::string& text) override { return form_.ask_yes_no(text); }

  struct Rect {
    int32_t x, y, width, height;
  };
  std::vector<Rect> changed;  // by the event being handled

 private:
  Form1& form_;
};

// One workload's scene: the program, its canvas window and the played samples.
struct Scene {
  Program program;
  std::unique_ptr<Form1> form;
  std::unique_ptr<NotingWindow> noting;
  std::vector<SessionSample> samples;
  float zoom = 1.0f;
  int32_t pan_x = 0, pan_y = 0;
};

void load_program(Scene& s, int32_t width, int32_t height) {
  Program& p = s.program;
  bench::ready_program(p, std::min(width, height));
  if (width != height) allocate_planes(p.canvas, width, height);
  clearbuffer(p.canvas);
  CreateDisplaySurface(p.display, p.size());
  p.display.AppTitle = "Tarvo input benchmark";
  // The Gel brush.
  p.brush.BrushSize = kBrushSize;
  p.brush.BrushCurve = 1;
  p.brush.Emboss = 1;
  p.brush.BlendMode = 0;
  p.brush.PaperGrain = kPaperStrength;
}

void wait_ms(int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Shows the canvas and puts the view at the zoom, centred on the session's strokes at zoom 4.
void show_canvas(Scene& s, float zoom) {
  Program& p = s.program;
  s.form = std::make_unique<Form1>(p);
  s.form->set_tablet_allowed(false);
  p.display.window = s.form.get();
  s.form->show_window();
  wait_ms(700);  // mapped, managed and exposed
  s.zoom = zoom;
  if (zoom != 1.0f) {
    float left = 1e9f, top = 1e9f, right = -1e9f, bottom = -1e9f;
    for (const SessionSample& sample : s.samples) {
      left = std::min(left, sample.x), right = std::max(right, sample.x);
      top = std::min(top, sample.y), bottom = std::max(bottom, sample.y);
    }
    s.pan_x = static_cast<int32_t>(s.form->client_width() / 2 - zoom * (left + right) / 2);
    s.pan_y = static_cast<int32_t>(s.form->client_height() / 2 - zoom * (top + bottom) / 2);
    set_view(p, zoom, s.pan_x, s.pan_y);
  }
  s.noting = std::make_unique<NotingWindow>(*s.form);
  p.display.window = s.noting.get();
  wait_ms(300);
  // Pressure comes from the samples, as a tablet's packets bring it.
  p.tablet.TabletOn = true;
}

// A sample posted by the feeder thread.
class SampleEvent : public QEvent {
 public:
  static QEvent::Type kind() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  explicit SampleEvent(std::size_t i) : QEvent(kind()), index(i) {}
  std::size_t index;
};

// Handles posted samples on the window's thread: paints them, or in the baseline only marks the
// rectangles their painted counterparts changed.
class Player : public QObject {
 public:
  Player(Scene& s, std::vector<Clock::time_point>& arrivals) : s_(s), arrivals_(arrivals) {}

  bool baseline = false;
  std::vector<std::vector<NotingWindow::Rect>> changed_by_sample;
  std::vector<Clock::time_point> pending;  // arrivals of events changed but not yet flushed
  std::vector<double> latencies_ms;

  void flushed(Clock::time_point at) {
    for (const Clock::time_point arrival : pending) {
      latencies_ms.push_back(std::chrono::duration<double, std::milli>(at - arrival).count());
    }
    pending.clear();
  }

 protected:
  void customEvent(QEvent* event) override {
    if (event->type() != SampleEvent::kind()) return;
    const std::size_t i = static_cast<SampleEvent*>(event)->index;
    NotingWindow& window = *s_.noting;
    if (baseline) {
      for (const NotingWindow::Rect& r : changed_by_sample[i]) {
        s_.form->client_pixels_changed(r.x, r.y, r.width, r.height);
      }
      if (!changed_by_sample[i].empty()) pending.push_back(arrivals_[i]);
      return;
    }
    window.changed.clear();
    play(i);
    changed_by_sample[i] = window.changed;
    if (!window.changed.empty()) pending.push_back(arrivals_[i]);
  }

 private:
  void play(std::size_t i) {
    const SessionSample& sample = s_.samples[i];
    Program& p = s_.program;
    const float x = sample.x * s_.zoom + static_cast<float>(s_.pan_x);
    const float y = sample.y * s_.zoom + static_cast<float>(s_.pan_y);
    p.tablet.PenInProximity = true;
    p.tablet.TabletX = x;
    p.tablet.TabletY = y;
    p.tablet.CurrentPressure = sample.pressure;
    const bool down = p.stroke.MouseIsDown;
    if (sample.touching() && !down) {
      s_.form->mouse_down(kLeftButton, 0, x, y);
    } else if (sample.touching()) {
      s_.form->mouse_move(kLeftButton, 0, x, y);
    } else if (down) {
      s_.form->mouse_up(kLeftButton, 0, x, y);
    } else {
      s_.form->mouse_move(0, 0, x, y);
    }
  }

  Scene& s_;
  std::vector<Clock::time_point>& arrivals_;
};

// The application, which tells the player when an update request has painted and flushed the
// window's backing store.
class FlushWatchingApplication : public TarvoApplication {
 public:
  using TarvoApplication::TarvoApplication;
  Player* player = nullptr;
  bool notify(QObject* receiver, QEvent* event) override {
    const bool update = event->type() == QEvent::UpdateRequest;
    const bool result = TarvoApplication::notify(receiver, event);
    if (update && player != nullptr) player->flushed(Clock::now());
    return result;
  }
};

// A session journal in a folder of its own, started over the canvas's planes as a session starts
// it, removed afterwards.
struct BenchJournal {
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tarvo-bench-input-" + std::to_string(::getpid()));
  SessionJournal journal{QString::fromStdString((folder / "bench-journal.tvs").string())};

  // The image file the planes were read from, with its SHA-1 (hex), when there is one.
  QString image_file;
  std::string image_sha1;

  ~BenchJournal() {
    journal.remove_files();
    std::filesystem::remove_all(folder);
  }
  void restart(const Program& p) {
    JournalStart start;
    journal.keep_planes(start, p.canvas.RBuffer, p.canvas.GBuffer, p.canvas.BBuffer,
                        p.canvas.stroke_planes());
    if (!image_file.isEmpty()) {
      start.base = JournalBase{JournalBase::Kind::ImageFile, image_file};
      start.planes_file_sha1 = image_sha1;
    }
    start.prelude = {"HProp1 32"};
    journal.restart(std::move(start));
  }
  // Fills the program's planes with a photo-like picture and writes it as the PNG file the
  // journal's base is then a copy of.
  void open_file_over(Program& p) {
    std::filesystem::create_directories(folder);
    HostImage picture = bench::photo_like(p.canvas.BufferWidth, p.canvas.BufferHeight, 5);
    p.canvas.RBuffer = std::move(picture.red);
    p.canvas.GBuffer = std::move(picture.green);
    p.canvas.BBuffer = std::move(picture.blue);
    copy_to_previews(p.canvas);
    const CanvasBuffers& c = p.canvas;
    image_file = QString::fromStdString((folder / "photo.png").string());
    bench::write_photo_png(c.RBuffer, c.GBuffer, c.BBuffer, c.BufferWidth, c.BufferHeight,
                           image_file.toStdString(), c.helper);
    image_sha1 = checksum_of_file(image_file).toHex().toStdString();
  }
};

// Plays the samples at their own timing: a feeder thread posts each at its time. With a journal,
// it starts as the session does and again half way.
void play_session(Scene& s, Player& player, std::vector<Clock::time_point>& arrivals,
                  BenchJournal* journal = nullptr) {
  if (journal) journal->restart(s.program);
  bool restarted_half_way = journal == nullptr;
  const std::size_t half = s.samples.size() / 2;
  std::atomic<std::size_t> posted{0};
  std::atomic<bool> done{false};
  const Clock::time_point start = Clock::now() + std::chrono::milliseconds(50);
  std::thread feeder([&] {
    const double first = s.samples.front().time;
    for (std::size_t i = 0; i < s.samples.size(); ++i) {
      const auto at = start + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(s.samples[i].time - first));
      std::this_thread::sleep_until(at);
      arrivals[i] = Clock::now();
      QCoreApplication::postEvent(&player, new SampleEvent(i));
      posted = i + 1;
    }
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    if (!restarted_half_way && posted >= half && !s.program.stroke.MouseIsDown) {
      journal->restart(s.program);  // as a send restarts it
      restarted_half_way = true;
    }
  }
  feeder.join();
  wait_ms(200);  // the last events and their flushes
}

double percentile(std::vector<double> v, double fraction) {
  if (v.empty()) return std::nan("");
  const auto rank =
      static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(v.size()))) - 1;
  std::nth_element(v.begin(), v.begin() + rank, v.end());
  return v[rank];
}

void report(ChildFigures& figures, const std::string& prefix, const std::vector<double>& ms) {
  figures[prefix + "p50_ms"] = percentile(ms, 0.5);
  figures[prefix + "p99_ms"] = percentile(ms, 0.99);
  figures[prefix + "max_ms"] = ms.empty() ? std::nan("") : *std::max_element(ms.begin(), ms.end());
  figures[prefix + "events"] = static_cast<double>(ms.size());
}

std::vector<SessionSample> played_samples() {
  std::vector<SessionSample> samples = read_session_file(session_path());
  if (const char* seconds = std::getenv("TARVO_BENCH_INPUT_SECONDS")) {
    const double limit = samples.front().time + std::atof(seconds);
    std::erase_if(samples, [limit](const SessionSample& s) { return s.time > limit; });
  }
  // The pen is lifted at the end, so that the last stroke is committed.
  if (!samples.empty() && samples.back().touching()) {
    SessionSample lifted = samples.back();
    lifted.time += 0.008;
    lifted.pressure = 0.0f;
    samples.push_back(lifted);
  }
  return samples;
}

template <int kWidth, int kHeight, int kZoom, bool kJournal>
void input_to_screen_child(ChildFigures& figures) {
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  static char name[] = "tarvo_bench";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  FlushWatchingApplication app(argc, argv);
  Scene s;
  s.samples = played_samples();
  load_program(s, kWidth, kHeight);
  std::unique_ptr<BenchJournal> journal = kJournal ? std::make_unique<BenchJournal>() : nullptr;
  if (journal && kWidth == 16384) journal->open_file_over(s.program);  // the file host's picture
  show_canvas(s, static_cast<float>(kZoom));
  std::vector<Clock::time_point> arrivals(s.samples.size());
  Player player(s, arrivals);
  player.changed_by_sample.resize(s.samples.size());
  app.player = &player;
  play_session(s, player, arrivals, journal.get());
  report(figures, "", player.latencies_ms);
  player.latencies_ms.clear();
  player.pending.clear();
  player.baseline = true;
  play_session(s, player, arrivals, journal.get());
  report(figures, "baseline_", player.latencies_ms);
  figures["client_width"] = s.form->client_width();
  figures["client_height"] = s.form->client_height();
  app.player = nullptr;
  s.program.display.window = nullptr;
}

std::string child_name(int width, int height, int zoom, bool journal) {
  return "input_to_screen_" + std::to_string(width) + "x" + std::to_string(height) + "_zoom" +
         std::to_string(zoom) + (journal ? "_journal" : "");
}

const bool kRegistered = register_child_workload(child_name(1024, 1024, 1, false),
                                                 input_to_screen_child<1024, 1024, 1, false>) &&
                         register_child_workload(child_name(1024, 1024, 4, false),
                                                 input_to_screen_child<1024, 1024, 4, false>) &&
                         register_child_workload(child_name(8192, 8192, 1, false),
                                                 input_to_screen_child<8192, 8192, 1, false>) &&
                         register_child_workload(child_name(8192, 8192, 4, false),
                                                 input_to_screen_child<8192, 8192, 4, false>) &&
                         register_child_workload(child_name(8000, 6000, 1, true),
                                                 input_to_screen_child<8000, 6000, 1, true>) &&
                         register_child_workload(child_name(16384, 16384, 1, true),
                                                 input_to_screen_child<16384, 16384, 1, true>);

// ---- The benchmark -----------------------------------------------------------------------------

// Args: image width, height, zoom, journal (1: the 30 seconds after opening, journalled).
void BM_InputToScreen(benchmark::State& state) {
  if (!std::filesystem::exists(session_path())) {
    state.SkipWithError("shared test data missing: painting30sec.dat");
    return;
  }
  const XServer& server = x_server();
  if (server.display.empty()) {
    state.SkipWithError(server.error.c_str());
    return;
  }
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const int zoom = static_cast<int>(state.range(2));
  const bool journal = state.range(3) != 0;
  ChildResult result;
  for (auto _ : state) result = run_in_child(child_name(width, height, zoom, journal));
  if (!result.error.empty()) {
    state.SkipWithError(result.error.c_str());
    return;
  }
  ChildFigures& f = result.figures;
  for (const auto& [figure, value] : f) {
    if (figure != "peak_kB") state.counters[figure] = value;
  }
  const std::string size = width == height ? std::to_string(width)
                                           : std::to_string(width) + " x " + std::to_string(height);
  const std::string workload = "input to screen, Gel brush 32, " + size + " image, zoom " +
                               std::to_string(zoom) +
                               (journal ? ", 30 s after opening, journalled" : "") + ": ";
  const std::string goal = "p99 < 4 ms";
  for (const char* figure : {"p50", "p99", "max"}) {
    record_summary_row(workload + figure + " (vs an unchanged frame)",
                       f[std::string(figure) + "_ms"], f[std::string("baseline_") + figure + "_ms"],
                       "ms", std::string(figure) == "p99" ? goal : "");
  }
}
BENCHMARK(BM_InputToScreen)
    ->ArgNames({"width", "height", "zoom", "journal"})
    ->Args({1024, 1024, 1, 0})
    ->Args({1024, 1024, 4, 0})
    ->Args({8192, 8192, 1, 0})
    ->Args({8192, 8192, 4, 0})
    ->Args({8000, 6000, 1, 1})
    ->Args({16384, 16384, 1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace tarvo::bench
