#include "recovery/qt_recovery_plan.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <iostream>

#include "app/qt_application.h"
#include "app/qt_command_line.h"
#include "recovery/qt_journal.h"
#include "recovery/qt_recovery.h"
#include "canvas/qt_form1.h"
#include "script/qt_script_player.h"

namespace tarvo {

namespace {

// A journal that a running program still writes holds its lock.
bool held_by_running_program(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

QString sha1_of_file(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha1);
  hash.addData(&file);
  return QString::fromLatin1(hash.result().toHex());
}

// Empty when the base is as the journal started from it, else why not.
QString base_problem(const QString& journal, const JournalContents& contents) {
  if (!QFileInfo::exists(contents.base_path)) {
    return QStringLiteral("the session journal %1 paints over %2, which no longer exists")
        .arg(journal, contents.base_path);
  }
  if (sha1_of_file(contents.base_path) != contents.base_sha1) {
    return QStringLiteral(
               "the session journal %1 paints over %2, which has changed since, so the journal "
               "cannot be replayed")
        .arg(journal, contents.base_path);
  }
  return {};
}

// Present while a journal is being replayed.
QString replay_mark(const QString& journal) { return journal + QStringLiteral(".replaying"); }

QString when(const QDateTime& time) {
  return QLocale().toString(time, QLocale::LongFormat);
}

bool is_write_back(const ScriptEvent& event) {
  // Closing and sending write the image; a recovered painting is written only when the user says.
  return event.verb == Verb::Form_Unload || event.verb == Verb::kv_button4_Click;
}

RecoveryPlan plan_from_journal(const QString& journal, const JournalContents& contents) {
  RecoveryPlan plan;
  plan.open_path = contents.base_path;
  plan.paper_path = contents.paper_path;
  plan.painted_at = QFileInfo(journal).lastModified();
  plan.source = journal;
  plan.files << journal;
  if (contents.base_kind == QLatin1String("snapshot")) plan.files << contents.base_path;
  for (const auto* part : {&contents.prelude, &contents.inputs}) {
    for (const ScriptEvent& event : *part) {
      if (!is_write_back(event)) plan.events.push_back(event);
    }
  }
  return plan;
}

RecoveryPlan plan_from_copy(const QString& copy) {
  RecoveryPlan plan;
  plan.open_path = copy;
  plan.painted_at = QFileInfo(copy).lastModified();
  plan.source = copy;
  plan.files << copy;
  return plan;
}

}  // namespace

bool ask_whether_to_recover(const RecoveryPlan& plan) {
  QString details =
      QStringLiteral("It was painted on %1. No keeps it in the recovery folder for later.")
          .arg(when(plan.painted_at));
  if (!plan.notice.isEmpty()) details += QStringLiteral("\n\n") + plan.notice + QLatin1Char('.');
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  QStringLiteral("Recover the painting that was not saved?"),
                  QMessageBox::Yes | QMessageBox::No);
  box.setInformativeText(details);
  return box.exec() == QMessageBox::Yes;
}

JournalContents read_journal(const QString& path) {
  QFile file(path);
  const std::string name = path.toStdString();
  if (!file.open(QIODevice::ReadOnly))
    throw ScriptError(name, 0, "cannot read the session journal");
  const QByteArray text = file.readAll();
  JournalContents contents;
  bool in_prelude = true;
  int32_t number = 0;
  // Only whole lines count: the last one may have been cut as the program died.
  for (qsizetype start = 0, end; (end = text.indexOf('\n', start)) >= 0; start = end + 1) {
    ++number;
    const std::string line = text.mid(start, end - start).toStdString();
    if (line == kJournalInputMark) {
      in_prelude = false;
      continue;
    }
    if (line.rfind("#@ ", 0) == 0) {
      const QString field = QString::fromStdString(line.substr(3));
      if (field.startsWith(QLatin1String("base "))) {
        const QStringList words = field.split(QLatin1Char(' '));
        if (words.size() < 4) throw ScriptError(name, number, "expected: base KIND PATH SHA1");
        contents.base_kind = words[1];
        contents.base_sha1 = words.last();
        contents.base_path = words.mid(2, words.size() - 3).join(QLatin1Char(' '));
      } else if (field.startsWith(QLatin1String("paper "))) {
        contents.paper_path = field.mid(6);
      }
      continue;
    }
    std::vector<ScriptEvent> events;
    try {
      events = parse_script_text(line, name);
    } catch (const ScriptError&) {
      break;  // a line damaged on disk: the inputs before it are what the journal holds
    }
    for (ScriptEvent& event : events) {
      event.line = number;
      (in_prelude ? contents.prelude : contents.inputs).push_back(event);
    }
  }
  if (contents.base_path.isEmpty()) throw ScriptError(name, 0, "the session journal names no base");
  return contents;
}

std::string RecoveryPlan::description() const {
  if (events.empty()) {
    const bool crash = source.endsWith(QLatin1String("-crash.ppm"));
    const bool autosave = source.endsWith(QLatin1String("-autosave.png"));
    return std::string(crash      ? "the crash copy "
                       : autosave ? "the autosave "
                                  : "the recovery copy ") +
           source.toStdString();
  }
  return "the session journal " + source.toStdString() + " (" + std::to_string(events.size()) +
         " inputs over " + open_path.toStdString() + ")";
}

RecoveryPlan find_recovery(const RecoveryStore& store) {
  QString notice;
  for (const QString& journal : store.journals()) {
    if (held_by_running_program(journal)) continue;
    if (QFileInfo::exists(replay_mark(journal))) {
      notice = QStringLiteral("replaying the session journal %1 ended the program last time, so it "
                              "is not replayed again")
                   .arg(journal);
      break;
    }
    JournalContents contents;
    try {
      contents = read_journal(journal);
    } catch (const ScriptError&) {
      continue;
    }
    notice = base_problem(journal, contents);
    if (!notice.isEmpty()) break;
    // A journal that restarted from the image file as it is now and holds no input since adds
    // nothing to the file.
    if (contents.inputs.empty() && contents.base_kind == QLatin1String("image") &&
        QFileInfo(contents.base_path) == QFileInfo(store.image_path())) {
      continue;
    }
    return plan_from_journal(journal, contents);
  }
  // Once the file was saved elsewhere, the copies are older than it and still the last of the
  // session: any age will do.
  const QStringList copies = notice.isEmpty() ? store.newer_copies() : store.copies();
  RecoveryPlan plan = copies.isEmpty() ? RecoveryPlan{} : plan_from_copy(copies.first());
  plan.notice = notice;
  return plan;
}

RecoveryPlan recovery_at_start(TarvoApplication& app, const RecoveryStore& store,
                               CommandLine& line) {
  RecoveryPlan plan = find_recovery(store);
  if (!plan.notice.isEmpty()) std::cerr << "tarvo: " << plan.notice.toStdString() << std::endl;
  if (plan.empty()) return plan;
  const bool asked = !line.recover && line.replay.isEmpty() && app.interactive();
  if (!line.recover && !(asked && ask_whether_to_recover(plan))) {
    std::cerr << "tarvo: the painting of " << when(plan.painted_at).toStdString()
              << " that was not saved is kept in " << plan.source.toStdString() << "; `tarvo "
              << line.image.toStdString() << " --recover --out FILE` writes it to FILE"
              << std::endl;
    return {};
  }
  std::cerr << "tarvo: recovering the painting of " << when(plan.painted_at).toStdString()
            << " from " << plan.description() << std::endl;
  if (!plan.events.empty()) QFile(replay_mark(plan.source)).open(QIODevice::WriteOnly);
  if (line.out.isEmpty()) line.out = line.image;
  line.image = plan.open_path;
  if (line.paper.isEmpty()) line.paper = plan.paper_path;
  return plan;
}

void finish_recovery(const RecoveryPlan& plan, const RecoveryStore& store, const QString& written) {
  QFile::remove(replay_mark(plan.source));
  if (written.isEmpty() || store.image_path().isEmpty() ||
      QFileInfo(written) != QFileInfo(store.image_path())) {
    return;
  }
  for (const QString& file : plan.files) QFile::remove(file);
}

void replay_recovery(Form1& canvas, const RecoveryPlan& plan) {
  if (plan.events.empty()) return;
  try {
    ScriptPlayer(canvas).play(plan.events);
  } catch (const std::exception& error) {
    // The painting goes on from where the inputs stopped, as it would have live.
    std::cerr << "tarvo: " << plan.source.toStdString()
              << ": recovery stopped at an input that failed: " << error.what() << std::endl;
  }
  QFile::remove(replay_mark(plan.source));
  // The pen goes on with the screen as it is now.
  canvas.forget_tablet_screen();
}

}  // namespace tarvo
