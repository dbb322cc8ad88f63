// GEGL comes before any Qt header: its GLib headers must not see Qt's keyword macros.
#include "gimp/gimp_session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/qt_application.h"
#include "app/qt_session.h"
#include "canvas/qt_form1.h"
#include "core/program.h"
#include "gimp/gimp_api.h"
#include "gimp/gimp_host.h"
#include "gimp/qt_gimp_dialogs.h"
#include "history/qt_history_store.h"
#include "recovery/qt_image_lock.h"
#include "recovery/qt_recovery.h"
#include "recovery/qt_recovery_plan.h"
#include "recovery/qt_recovery_question.h"
#include "script/event_script.h"

namespace tarvo {

namespace {

// How often an open canvas asks GIMP whether its layer is still there.
constexpr int kLayerCheckMilliseconds = 1000;

// The last recovery copy written once GIMP or the image was gone.
struct KeptCopy {
  QString path;
};

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
  const std::string file = gimp_api::image_file(image);
  if (!file.empty()) return RecoveryStore::key_of_gimp_image(QString::fromStdString(file));
  // A name like GIMP 3's "[Untitled]" keeps no character that a path or a file-name pattern reads
  // as its own.
  const std::string name = gimp_api::image_name(image);
  QString key = QString::fromStdString(name.empty() ? "Untitled" : name);
  for (QChar& c : key) {
    if (c == QLatin1Char('/') || c == QLatin1Char('[') || c == QLatin1Char(']') ||
        c == QLatin1Char('*') || c == QLatin1Char('?')) {
      c = QLatin1Char('_');
    }
  }
  return key + QStringLiteral("-gimp");
}

// Keeps a second canvas off an image that a canvas is open on (qt_image_lock.h). Images never
// saved go by a name that several may share; their id tells them apart.
ImageLock image_lock(const QString& key, int image) {
  const bool saved = !gimp_api::image_file(image).empty();
  const QString path = RecoveryStore::directory() + QLatin1Char('/') + key +
                       (saved ? QString() : QStringLiteral("-%1").arg(image)) +
                       QStringLiteral(".lock");
  const std::string name = gimp_api::image_name(image);
  return ImageLock(path, QStringLiteral("the Tarvo canvas on \"%1\" (process %2)")
                             .arg(QString::fromStdString(name))
                             .arg(::getpid()));
}

// Writes the committed planes as a recovery copy and tells the user why and where. Once GIMP or the
// image is gone every call that finds it gone comes here (the watch, each Send, the close): the
// store writes a painting unchanged since its last copy only once, and a newer copy replaces the
// older, so that the session keeps one copy.
void keep_painting(const CanvasBuffers& canvas, RecoveryStore& recovery, KeptCopy& kept,
                   const std::string& why, QWidget* parent) {
  std::string text;
  try {
    kept.path = recovery.write_copy(canvas);
    text = why + ". Your painting is saved as " + kept.path.toStdString() + ".";
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
                const CanvasBuffers& planes, Form1& canvas, RecoveryStore& recovery, KeptCopy& kept,
                ImageLock& lock) {
  auto* layer_check = new QTimer(&canvas);
  if (run.gimp_read_fd >= 0) {
    auto* notifier = new QSocketNotifier(run.gimp_read_fd, QSocketNotifier::Read, &canvas);
    QObject::connect(notifier, &QSocketNotifier::activated, &canvas,
                     [=, &planes, &recovery, &canvas, &kept, &lock] {
                       notifier->setEnabled(false);
                       layer_check->stop();
                       link->gone = true;
                       lock.mark_host_gone();
                       keep_painting(planes, recovery, kept,
                                     "GIMP has quit, so the painting cannot go back to it",
                                     &canvas);
                     });
  }
  QObject::connect(
      layer_check, &QTimer::timeout, &canvas, [=, &host, &planes, &recovery, &canvas, &kept] {
        if (link->gone || gimp_has_spoken(run.gimp_read_fd)) return;  // the notifier takes it
        if (host.drawable_alive()) return;
        layer_check->stop();
        keep_painting(planes, recovery, kept,
                      gimp_api::image_valid(run.image)
                          ? "The layer was deleted in GIMP, so the painting cannot go back to it "
                            "(Edit > Undo in GIMP brings the layer back)"
                          : "The image was closed in GIMP, so the painting cannot go back to it",
                      &canvas);
      });
  layer_check->start(kLayerCheckMilliseconds);
}

// The question over a layer that GIMP changed since the canvas read or wrote it. Return paints the
// strokes onto the layer as it is now, where the session can; Escape keeps painting.
LayerChangeAnswer ask_about_layer_change(QWidget* parent, const std::string& layer,
                                         bool can_repaint) {
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  QStringLiteral("The layer \"%1\" was changed in GIMP since Tarvo last read it "
                                 "or sent your painting to it (by GIMP's own tools, an undo or a "
                                 "filter).\n\nSending the painting as it is would paint over what "
                                 "GIMP changed.")
                      .arg(QString::fromStdString(layer)),
                  QMessageBox::NoButton, parent);
  QPushButton* repaint =
      can_repaint ? box.addButton(QStringLiteral("Paint my strokes onto GIMP's layer as it is now"),
                                  QMessageBox::AcceptRole)
                  : nullptr;
  QPushButton* overwrite =
      box.addButton(QStringLiteral("Overwrite GIMP's changes"), QMessageBox::DestructiveRole);
  QPushButton* keep = box.addButton(QStringLiteral("Keep Painting"), QMessageBox::RejectRole);
  box.setDefaultButton(repaint ? repaint : keep);
  box.setEscapeButton(keep);
  box.exec();
  if (repaint && box.clickedButton() == repaint) return LayerChangeAnswer::kRepaint;
  if (box.clickedButton() == overwrite) return LayerChangeAnswer::kOverwrite;
  return LayerChangeAnswer::kKeepPainting;
}

// A text layer keeps its text only while nothing but the text tool changes it: as GIMP's own tools
// do, the user is asked before painting discards that. Return paints; Escape keeps the text.
bool agree_to_discard_text(int drawable) {
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  QStringLiteral("\"%1\" is a text layer. Painting on it keeps its pixels but "
                                 "discards its text information: GIMP's text tool can no longer "
                                 "edit its words.\n\nPaint on it anyway?")
                      .arg(QString::fromStdString(gimp_api::item_name(drawable))),
                  QMessageBox::NoButton, nullptr);
  QPushButton* paint = box.addButton(QStringLiteral("Paint on It"), QMessageBox::AcceptRole);
  QPushButton* keep = box.addButton(QStringLiteral("Keep the Text"), QMessageBox::RejectRole);
  box.setDefaultButton(paint);
  box.setEscapeButton(keep);
  box.exec();
  return box.clickedButton() == paint;
}

// A canvas still open on the image whose GIMP has ended cannot send its painting: the user may
// take it over. That canvas is asked to close (SIGTERM), which keeps its painting for recovery, and
// the lock is taken once it has gone. Returns what still holds the lock (empty once taken).
QString take_over(ImageLock& lock, const QString& holder, bool interactive) {
  if (!interactive || lock.holder() <= 0) return holder;
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  QStringLiteral("%1 is still open on this image, but the GIMP it was started from "
                                 "has ended, so it cannot send its painting back.\n\nTake its "
                                 "painting over here? That canvas closes, keeping its painting, "
                                 "which Tarvo then offers to recover.")
                      .arg(holder.left(1).toUpper() + holder.mid(1)),
                  QMessageBox::NoButton, nullptr);
  QPushButton* take = box.addButton(QStringLiteral("Take Over"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(take);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() != take) return holder;
  ::kill(lock.holder(), SIGTERM);
  // A canvas keeps its painting and ends within moments; a large one takes a few seconds.
  constexpr int kWaitMilliseconds = 30000, kStepMilliseconds = 100;
  for (int waited = 0; waited < kWaitMilliseconds; waited += kStepMilliseconds) {
    ::usleep(kStepMilliseconds * 1000);
    const QString still = lock.take();
    if (still.isEmpty()) return still;
  }
  return lock.take();
}

// Offers each painting kept from earlier sessions on this layer that did not end normally (and
// those of layers the image no longer has, saying whose they are), newest first. Returns the plan
// the user takes; the others stay kept (or are discarded, if so chosen).
RecoveryPlan offer_recovery(const QString& image_key, int image, const QString& layer) {
  const QString image_name = QString::fromStdString(gimp_api::image_name(image));
  RecoveryPlan plan = choose_recovery(
      find_layer_recoveries(image_key, image_name, layer, [image](const QString& name) {
        return gimp_api::has_layer_named(image, name.toStdString());
      }));
  if (!plan.empty()) std::cerr << "tarvo: recovering " << plan.description() << std::endl;
  return plan;
}

// GIMP draws the layer's effects (GIMP 3's non-destructive filters) over its pixels, so what the
// canvas paints is seen through them: said as the canvas opens, naming them.
void tell_about_effects(const GimpRun& run, QWidget* canvas) {
  const std::vector<std::string> effects = gimp_api::effect_names(run.drawable);
  if (effects.empty()) return;
  QStringList names;
  for (const std::string& name : effects) names << QString::fromStdString(name);
  const bool several = effects.size() > 1;
  const QString text =
      QStringLiteral(
          "GIMP applies the effects of the layer \"%1\" over the paint: %2. The canvas shows the "
          "layer's own pixels, without %3; in GIMP your strokes will look as %4 make%5 them (merge "
          "or remove %3 in GIMP's Layers dock to paint without %3).")
          .arg(QString::fromStdString(gimp_api::item_name(run.drawable)), names.join(u", "),
               several ? QStringLiteral("them") : QStringLiteral("it"),
               several ? QStringLiteral("those effects") : QStringLiteral("that effect"),
               several ? QString() : QStringLiteral("s"));
  std::cerr << "tarvo: " << text.toStdString() << std::endl;
  if (!canvas) return;
  // A note the canvas takes paint beside, not a question.
  auto* box = new QMessageBox(QMessageBox::Information, QApplication::applicationDisplayName(),
                              text, QMessageBox::Ok, canvas);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  QTimer::singleShot(0, box, &QWidget::show);
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
  // The windows' children stay ordinary widgets: a native child is a subsurface on Wayland.
  QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
  QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
  QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, false);
  static char program_name[] = "tarvo-gimp";
  static char* arguments[] = {program_name, nullptr};
  int argument_count = 1;
  TarvoApplication app(argument_count, arguments);

  // A layer Tarvo cannot paint on is refused before anything opens, saying what to do instead.
  const std::string refused = gimp_api::drawable_valid(run.drawable)
                                  ? unpaintable_reason(run.drawable)
                                  : std::string("the layer is no longer in GIMP");
  if (!refused.empty()) {
    result.message = refused;
    return result;
  }
  if (gimp_api::is_text_layer(run.drawable)) {
    if (run.interactive && !agree_to_discard_text(run.drawable)) {
      result.cancelled = true;
      return result;
    }
    if (!run.interactive) {
      std::cerr << "tarvo: \"" << gimp_api::item_name(run.drawable)
                << "\" is a text layer: painting on it discards its text information" << std::endl;
    }
  }

  const QString key = recovery_key(run.image);
  ImageLock lock = image_lock(key, run.image);
  QString holder = lock.take();
  if (!holder.isEmpty() && lock.holder_host_gone())
    holder = take_over(lock, holder, run.interactive);
  if (!holder.isEmpty() && lock.holder_host_gone()) {
    result.message = "Tarvo is already painting on this image: " + holder.toStdString() +
                     " is open, but the GIMP it was started from has ended, so it cannot send its "
                     "painting. Close that canvas (its painting is kept for recovery) before "
                     "running Tarvo Paint on the image again.";
    std::cerr << "tarvo: " << result.message << std::endl;
    return result;
  }
  if (!holder.isEmpty()) {
    result.message = "Tarvo is already painting on this image: " + holder.toStdString() +
                     " is open. Send the image and close that canvas before running Tarvo Paint "
                     "on the image again.";
    std::cerr << "tarvo: " << result.message << std::endl;
    return result;
  }
  // What a session keeps goes by its layer, named as GIMP names it: a layer's name is saved with
  // an XCF and, for an image loaded from another format, is the file's name, and GIMP keeps the
  // names of one image's layers apart; its id lasts only while GIMP runs, and its tattoo is given
  // afresh each time a file of another format is loaded.
  const QString layer = QString::fromStdString(gimp_api::drawable_name(run.drawable));
  RecoveryStore recovery(RecoveryStore::key_of_layer(key, layer), QString());
  const RecoveryPlan recovered =
      run.interactive ? offer_recovery(key, run.image, layer) : RecoveryPlan{};

  auto link = std::make_shared<GimpLink>();
  GimpHost* host = nullptr;
  QWidget* question_parent = nullptr;  // the canvas, once it exists
  Session session;
  session.make_host = [&run, &host, &question_parent, &app, link,
                       start_from = recovered.open_path]() -> std::unique_ptr<Host> {
    GimpHostOptions options;
    options.image = run.image;
    options.drawable = run.drawable;
    options.link = link;
    options.start_from = start_from.toStdString();
    options.presence = &app.presence();
    options.ask_about_size = [&question_parent](const std::string& what, bool can_scale) {
      return ask_about_layer_size(question_parent, what, can_scale);
    };
    options.save_as_file = [&question_parent,
                            layer = gimp_api::item_name(run.drawable)](const HostImage& painting) {
      return save_painting_as_file(question_parent, painting, layer);
    };
    options.tell = [&question_parent](const std::string& why) {
      QMessageBox::warning(question_parent, QApplication::applicationDisplayName(),
                           QString::fromStdString(why));
    };
    if (run.interactive) {
      options.ask_about_change = [&question_parent,
                                  layer = gimp_api::item_name(run.drawable)](bool can_repaint) {
        return ask_about_layer_change(question_parent, layer, can_repaint);
      };
    }
    auto made = std::make_unique<GimpHost>(options);
    host = made.get();
    return made;
  };
  session.recovery = &recovery;
  session.plain_error_words = true;
  session.replaying = !run.interactive;
  // An open canvas journals every input over a snapshot of the layer it started from.
  session.journalled = run.interactive;
  session.journal_base = JournalBase{JournalBase::Kind::Snapshot, {}};
  session.journal_header = {"layer " + layer.toStdString()};
  session.recovered = recovered;
  // The layer's history: the image's key and the layer's name.
  session.history = true;
  session.history_key = HistoryStore::layer_key(key, layer);
  session.host_window = run.interactive ? gimp_api::image_window() : HostWindow{};
  session.script = std::move(script);
  session.script_name = run.script;
  KeptCopy kept;
  session.on_canvas_ready = [&](Program& program, Form1& canvas, RecoveryStore& recovery) {
    const CanvasBuffers& planes = program.canvas;
    if (run.quit_hook) {
      run.quit_hook->leaving = [&planes, &recovery, &kept, &lock, &canvas, link,
                                interactive = run.interactive] {
        const bool noticed = link->gone;
        link->gone = true;
        lock.mark_host_gone();
        if (!noticed) {
          keep_painting(planes, recovery, kept,
                        "GIMP has quit, so the painting cannot go back to it", nullptr);
        }
        // libgimp would end the process when this returns, saying goodbye on a pipe that GIMP has
        // closed ("Broken pipe"): a call that found GIMP gone comes here from deep inside the
        // canvas. The canvas lives on until it is closed (or asked to close), and the process then
        // ends here with the latest painting kept.
        if (interactive && canvas.isVisible()) {
          QEventLoop until_closed;
          QObject::connect(qApp, &QCoreApplication::aboutToQuit, &until_closed, &QEventLoop::quit);
          QObject::connect(&canvas, &QObject::destroyed, &until_closed, &QEventLoop::quit);
          until_closed.exec();
          keep_painting(planes, recovery, kept,
                        "GIMP has quit, so the painting cannot go back to it", nullptr);
        }
        std::cerr.flush();
        std::_Exit(1);
      };
    }
    QWidget* parent = run.interactive ? &canvas : nullptr;
    question_parent = parent;
    host->set_lost_hook([&planes, &recovery, &kept, &app, parent](const std::string& what) {
      // A close on a signal asks nothing and shows nothing on the way out.
      keep_painting(planes, recovery, kept, "Tarvo cannot reach GIMP: " + what,
                    app.interactive() ? parent : nullptr);
    });
    if (run.interactive) watch_gimp(run, *host, link, planes, canvas, recovery, kept, lock);
    tell_about_effects(run, parent);
  };
  try {
    result.success = run_session(app, session) == 0;
  } catch (const std::exception& error) {
    session.failure = error.what();
  }
  if (run.quit_hook) run.quit_hook->leaving = nullptr;
  result.gimp_gone = link->gone;
  if (!result.success) {
    result.message =
        session.failure.empty() ? "the painting was not written back to GIMP" : session.failure;
  }
  return result;
}

}  // namespace tarvo
