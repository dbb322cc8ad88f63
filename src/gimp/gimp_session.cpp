// libgimp comes before any Qt header: its GLib headers must not see Qt's keyword macros.
#include "gimp/gimp_session.h"

#include <libgimp/gimp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/program.h"
#include "app/qt_application.h"
#include "recovery/qt_recovery.h"
#include "recovery/qt_recovery_plan.h"
#include "app/qt_session.h"
#include "canvas/qt_form1.h"
#include "gimp/gimp_host.h"
#include "script/event_script.h"

namespace tarvo {

namespace {

// How often an open canvas asks GIMP whether its layer is still there.
constexpr int kLayerCheckMilliseconds = 1000;

// The session under way, for GIMP's quit callback, which can reach nothing else.
struct RunningSession {
  Program* program = nullptr;
  RecoveryStore* recovery = nullptr;
  std::shared_ptr<GimpLink> link;
};
RunningSession g_running;

// GIMP writes to the plug-in unasked only to tell it to quit; a closed pipe means it is gone.
bool gimp_has_spoken(int fd) {
  if (fd < 0) return false;
  pollfd watched{fd, POLLIN, 0};
  return ::poll(&watched, 1, 0) > 0;
}

// Names the image in the recovery folder: its file's name and a tag of its full path, so that
// images of the same name in different folders stay apart; an image that was never saved goes by
// the name GIMP shows for it.
QString recovery_key(int image) {
  gchar* file = gimp_image_get_filename(image);
  QString key;
  if (file && *file) {
    const QString path = QString::fromUtf8(file);
    const QString tag = QString::fromLatin1(
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    key = QFileInfo(path).completeBaseName() + QStringLiteral("-gimp-") + tag;
  } else {
    gchar* name = gimp_image_get_name(image);
    key = QString::fromUtf8(name && *name ? name : "Untitled").replace(QLatin1Char('/'), '_') +
          QStringLiteral("-gimp");
    g_free(name);
  }
  g_free(file);
  return key;
}

// Writes the committed planes as a recovery copy and tells the user why and where.
void keep_painting(Program& program, RecoveryStore& recovery, const std::string& why,
                   QWidget* parent) {
  std::string text;
  try {
    text = why + ". Your painting is saved as " +
           recovery.write_copy(program.canvas).toStdString() + ".";
  } catch (const RuntimeError& error) {
    text = why + ", and " + error.what() + ".";
  }
  std::cerr << "tarvo: " << text << std::endl;
  if (parent) {
    QMessageBox::warning(parent, QApplication::applicationDisplayName(),
                         QString::fromStdString(text));
  }
}

// While the canvas is open, watches for GIMP quitting or dying (its pipe speaks or closes) and for
// the layer's image being closed, and keeps the painting when either happens. The canvas stays
// open: the user can go on painting, and closing it keeps the latest painting too.
void watch_gimp(const GimpRun& run, GimpHost& host, const std::shared_ptr<GimpLink>& link,
                Program& program, Form1& canvas, RecoveryStore& recovery) {
  auto* layer_check = new QTimer(&canvas);
  if (run.gimp_read_fd >= 0) {
    auto* notifier = new QSocketNotifier(run.gimp_read_fd, QSocketNotifier::Read, &canvas);
    QObject::connect(
        notifier, &QSocketNotifier::activated, &canvas, [=, &program, &recovery, &canvas] {
          notifier->setEnabled(false);
          layer_check->stop();
          link->gone = true;
          keep_painting(program, recovery, "GIMP has quit, so the painting cannot go back to it",
                        &canvas);
        });
  }
  QObject::connect(
      layer_check, &QTimer::timeout, &canvas, [=, &host, &program, &recovery, &canvas] {
        if (link->gone || gimp_has_spoken(run.gimp_read_fd)) return;  // the notifier takes it
        if (host.drawable_alive()) return;
        layer_check->stop();
        keep_painting(program, recovery,
                      "The image was closed in GIMP, so the painting cannot go back to it",
                      &canvas);
      });
  layer_check->start(kLayerCheckMilliseconds);
}

// Offers the painting of an earlier session on this image that did not end normally. Returns the
// plan when the user takes it, else says where it is kept.
RecoveryPlan offer_recovery(const RecoveryStore& recovery) {
  RecoveryPlan plan = find_recovery(recovery);
  if (!plan.notice.isEmpty()) std::cerr << "tarvo: " << plan.notice.toStdString() << std::endl;
  if (plan.empty()) return plan;
  if (ask_whether_to_recover(plan)) {
    std::cerr << "tarvo: recovering " << plan.description() << std::endl;
    return plan;
  }
  std::cerr << "tarvo: the painting that was not saved is kept in " << plan.source.toStdString()
            << std::endl;
  return {};
}

// The window of the image display the plug-in was started from, or 0.
quint64 image_window() {
  const gint32 display = gimp_default_display();
  if (display < 0 || !gimp_display_is_valid(display)) return 0;
  return static_cast<guint32>(gimp_display_get_window_handle(display));
}

}  // namespace

void run_apart_from_gimp() {
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    ::setpgid(0, 0);
    return;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The child has answered GIMP and said goodbye on the pipe; nothing may be written to it again.
  ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

GimpRunResult run_on_gimp(const GimpRun& run) {
  GimpRunResult result;
  std::vector<ScriptEvent> script;
  if (!run.interactive) {
    try {
      script = read_script_file(run.script);
    } catch (const ScriptError& error) {
      result.message = error.what();
      return result;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  } else if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
             !std::getenv("WAYLAND_DISPLAY")) {
    result.message = "there is no display to open the canvas on";
    return result;
  }

  // libgimp watches its pipe from GLib's main context and ends the process when GIMP goes away.
  // Qt's own event dispatcher leaves that context alone, so the canvas can outlive GIMP and keep
  // the painting; the pipe is watched by watch_gimp instead.
  setenv("QT_NO_GLIB", "1", 1);
  QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
  QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, false);
  static char program_name[] = "tarvo-gimp";
  static char* arguments[] = {program_name, nullptr};
  int argument_count = 1;
  TarvoApplication app(argument_count, arguments);

  RecoveryStore recovery(recovery_key(run.image), QString());
  const RecoveryPlan recovered = run.interactive ? offer_recovery(recovery) : RecoveryPlan{};

  auto link = std::make_shared<GimpLink>();
  GimpHost* host = nullptr;
  Session session;
  session.make_host = [&run, &host, link,
                       start_from = recovered.open_path]() -> std::unique_ptr<Host> {
    GimpHostOptions options;
    options.image = run.image;
    options.drawable = run.drawable;
    options.link = link;
    options.start_from = start_from.toStdString();
    auto made = std::make_unique<GimpHost>(options);
    host = made.get();
    return made;
  };
  session.recovery = &recovery;
  session.replaying = !run.interactive;
  // An open canvas journals every input over a snapshot of the layer it started from.
  session.journalled = run.interactive;
  session.journal_base = JournalBase{JournalBase::Kind::Snapshot, {}};
  session.recovered = recovered;
  session.host_window = run.interactive ? image_window() : 0;
  session.script = std::move(script);
  session.script_name = run.script;
  session.on_canvas_ready = [&](Program& program, Form1& canvas, RecoveryStore& recovery) {
    g_running = RunningSession{&program, &recovery, link};
    QWidget* parent = run.interactive ? &canvas : nullptr;
    host->set_lost_hook([&program, &recovery, parent](const std::string& what) {
      keep_painting(program, recovery, "Tarvo cannot reach GIMP: " + what, parent);
    });
    if (run.interactive) watch_gimp(run, *host, link, program, canvas, recovery);
  };
  try {
    result.success = run_session(app, session) == 0;
  } catch (const std::exception& error) {
    session.failure = error.what();
  }
  g_running = RunningSession{};
  if (!result.success) {
    result.message =
        session.failure.empty() ? "the painting was not written back to GIMP" : session.failure;
  }
  return result;
}

void gimp_is_leaving() {
  if (!g_running.program) return;
  if (g_running.link) g_running.link->gone = true;
  keep_painting(*g_running.program, *g_running.recovery,
                "GIMP has quit, so the painting cannot go back to it", nullptr);
  g_running = RunningSession{};
}

}  // namespace tarvo
