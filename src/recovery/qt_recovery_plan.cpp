#include "recovery/qt_recovery_plan.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <iostream>

#include "canvas/qt_form1.h"
#include "file/plane_snapshot.h"
#include "file/qt_image_file.h"
#include "recovery/qt_journal.h"
#include "recovery/qt_recovery.h"
#include "recovery/qt_recovery_question.h"
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

QString sha1_hex_of_file(const QString& path) {
  return QString::fromLatin1(checksum_of_file(path).toHex());
}

// The checksum a journal names its base by: a snapshot of the planes its own CRC-32, verified
// from end to end; any other file (the image, its copy, an older journal's PNG snapshot) the SHA-1
// of its bytes.
QString base_checksum_of(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray start = file.read(static_cast<qint64>(kPlaneSnapshotMagic.size()));
  file.close();
  if (is_plane_snapshot({reinterpret_cast<const uint8_t*>(start.constData()),
                         static_cast<std::size_t>(start.size())})) {
    return QString::fromStdString(plane_snapshot_checksum(QFile::encodeName(path).toStdString()));
  }
  return sha1_hex_of_file(path);
}

// Whether path holds exactly what the journal paints over.
bool holds_base(const QString& path, const JournalContents& contents) {
  return !path.isEmpty() && QFileInfo::exists(path) && base_checksum_of(path) == contents.base_sha1;
}

// Empty when the base is as the journal started from it, else why not.
QString base_problem(const QString& journal, const JournalContents& contents) {
  if (!QFileInfo::exists(contents.base_path)) {
    return QStringLiteral("the session journal %1 paints over %2, which no longer exists")
        .arg(journal, contents.base_path);
  }
  if (base_checksum_of(contents.base_path) != contents.base_sha1) {
    return QStringLiteral(
               "the session journal %1 paints over %2, which has changed since, so the journal "
               "cannot be replayed as it was")
        .arg(journal, contents.base_path);
  }
  return {};
}

// What the journal paints over, as it was: the image file while it is unchanged, else the
// journal's copy of it, or its snapshot. Empty when none of them is left.
QString base_as_it_was(const JournalContents& contents) {
  if (holds_base(contents.base_path, contents)) return contents.base_path;
  if (holds_base(contents.base_copy, contents)) return contents.base_copy;
  return {};
}

// Present while a journal is being replayed.
QString replay_mark(const QString& journal) {
  return journal + QStringLiteral(".replaying");
}

bool is_write_back(const ScriptEvent& event) {
  // Closing and sending write the image; a recovered painting is written only when the user says.
  return event.verb == Verb::Form_Unload || event.verb == Verb::kv_button4_Click;
}

// A journal that ends with a button held ends with a drag on screen: a stroke the user saw. The
// release the program never got is added at the last press or move, as the canvas ends a drag
// when it closes, so that the stroke is committed as that release would commit it.
void release_unfinished_drag(std::vector<ScriptEvent>& events) {
  bool down = false;
  ScriptEvent release = make_event(Verb::Form_MouseUp, {1, 0, 0, 0});
  for (const ScriptEvent& event : events) {
    if (event.verb == Verb::Form_MouseDown) {
      if (!down && event.int16_arg(0) != 0) {
        down = true;
        release.args[0] = event.args[0];
      }
    } else if (event.verb == Verb::Form_MouseUp) {
      down = false;
      continue;
    } else if (event.verb != Verb::Form_MouseMove) {
      continue;
    }
    release.args[2] = event.args[2];
    release.args[3] = event.args[3];
    release.line = event.line;
  }
  if (down) events.push_back(release);
}

// The journal's plan: its inputs over its base as it was, when that is left, and the image file
// it was painted over.
RecoveryPlan plan_from_journal(const QString& journal, const JournalContents& contents) {
  RecoveryPlan plan;
  plan.paper_path = contents.paper_path;
  plan.layer = contents.layer;
  plan.painted_at = QFileInfo(journal).lastModified();
  plan.source = journal;
  plan.journal = journal;
  plan.image_path = contents.image_path;
  plan.image_then = contents.image;
  std::vector<ScriptEvent> events;
  for (const auto* part : {&contents.prelude, &contents.inputs}) {
    for (const ScriptEvent& event : *part) {
      if (!is_write_back(event)) events.push_back(event);
    }
  }
  release_unfinished_drag(events);
  // A prelude alone paints nothing onto the file.
  if (!contents.inputs.empty()) plan.journal_events = events;
  plan.open_path = base_as_it_was(contents);
  if (!plan.open_path.isEmpty()) plan.events = std::move(events);
  // An older journal names the file by its base line alone, without its size.
  if (plan.image_then.size < 0 && !plan.open_path.isEmpty() &&
      contents.base_kind == QLatin1String("image")) {
    plan.image_then.size = QFileInfo(plan.open_path).size();
  }
  return plan;
}

RecoveryPlan plan_from_copy(const QString& copy) {
  RecoveryPlan plan;
  plan.open_path = copy;
  plan.painted_at = QFileInfo(copy).lastModified();
  plan.source = copy;
  return plan;
}

bool is_journal(const QString& path) {
  return path.endsWith(QLatin1String("-journal.tvs"));
}

bool is_copy(const QString& path) {
  // A journal's base is the start of a journal, not a copy of the painting.
  if (path.contains(QLatin1String("-journal-base"))) return false;
  return path.endsWith(QLatin1String(".png")) || path.endsWith(QLatin1String("-crash.ppm"));
}

// The journal's path without ".tvs": the start of every file that belongs to it.
QString stem_of(const QString& journal) {
  return journal.left(journal.size() - 4);
}

void remove_journal(const QString& journal) {
  const QFileInfo info(journal);
  const QString stem = QFileInfo(stem_of(journal)).fileName();
  for (const QFileInfo& file : info.dir().entryInfoList({stem + QLatin1Char('*')}, QDir::Files)) {
    QFile::remove(file.absoluteFilePath());
  }
}

// Gives a journal over the image file that has no copy of it (one written before journals kept
// their own) a copy beside it, so that it still replays once the file is written again. The
// journal keeps its time: it says when the painting was painted.
void give_journal_its_base(const QString& journal, const JournalContents& contents) {
  QFile image(contents.base_path);
  QFile file(journal);
  if (!image.open(QIODevice::ReadOnly) || !file.open(QIODevice::ReadOnly)) return;
  const QByteArray base = image.readAll();
  QByteArray text = file.readAll();
  file.close();
  const QByteArray sha1 = QCryptographicHash::hash(base, QCryptographicHash::Sha1).toHex();
  const qsizetype line = text.indexOf("\n#@ base image ");
  const qsizetype line_end = line < 0 ? -1 : text.indexOf('\n', line + 1);
  if (sha1 != contents.base_sha1.toLatin1() || line_end < 0) return;
  const QString suffix = QFileInfo(contents.base_path).suffix();
  const QString copy =
      stem_of(journal) + QStringLiteral("-base-0") + (suffix.isEmpty() ? QString() : "." + suffix);
  const QDateTime painted = QFileInfo(journal).lastModified();
  QString error = write_private_file(copy, base);
  if (error.isEmpty()) {
    text.insert(line_end, "\n#@ base copy " + QFile::encodeName(copy));
    error = write_private_file(journal, text);
  }
  if (!error.isEmpty()) {
    QFile::remove(copy);
    std::cerr << "tarvo: cannot keep the image " << contents.base_path.toStdString()
              << " with the session journal " << journal.toStdString() << ": "
              << error.toStdString() << "; it replays only while the image stays as it is"
              << std::endl;
    return;
  }
  if (file.open(QIODevice::Append)) file.setFileTime(painted, QFileDevice::FileModificationTime);
}

// A base beside the journal that it does not name goes: a snapshot begun by a restart that the
// program did not live to name, finished by the child that kept its planes. One that a child still
// writes (and holds locked) waits for the next time. Names, not paths, are compared, so that a
// folder reached by another path keeps every base its journal names.
void remove_unnamed_bases(const QString& journal, const JournalContents& contents) {
  const QFileInfo info(journal);
  const QString named[] = {QFileInfo(contents.base_path).fileName(),
                           QFileInfo(contents.base_copy).fileName()};
  const QString stem = QFileInfo(stem_of(journal)).fileName();
  for (const QFileInfo& file :
       info.dir().entryInfoList({stem + QStringLiteral("-base-*")}, QDir::Files)) {
    if (std::find(std::begin(named), std::end(named), file.fileName()) != std::end(named) ||
        held_by_running_program(file.absoluteFilePath())) {
      continue;
    }
    QFile::remove(file.absoluteFilePath());
  }
}

// Before anything is offered or written: a journal that adds nothing goes, and a journal over the
// image file gets a copy of it; a base that no journal names goes too.
void tidy_journals(const RecoveryStore& store) {
  for (const QString& journal : store.journals()) {
    if (held_by_running_program(journal) || QFileInfo::exists(replay_mark(journal))) continue;
    JournalContents contents;
    try {
      contents = read_journal(journal);
    } catch (const ScriptError&) {
      continue;
    }
    remove_unnamed_bases(journal, contents);
    // Only a journal over the image file asks whether its base is intact here (a snapshot is
    // verified when it is offered).
    const bool base_intact =
        contents.base_kind == QLatin1String("image") && base_problem(journal, contents).isEmpty();
    if (contents.inputs.empty() &&
        (contents.held || (contents.base_kind == QLatin1String("image") && base_intact))) {
      remove_journal(journal);
    } else if (contents.base_kind == QLatin1String("image") && contents.base_copy.isEmpty() &&
               base_intact) {
      give_journal_its_base(journal, contents);
    }
  }
}

// The painting one session kept (its files newest first): its journal when it replays, else its
// newest copy. Empty, perhaps with a notice, when neither is there.
RecoveryPlan plan_of_session(const QStringList& files) {
  QString notice;
  RecoveryPlan plan;
  for (const QString& journal : files) {
    if (!is_journal(journal)) continue;
    if (QFileInfo::exists(replay_mark(journal))) {
      notice = QStringLiteral(
                   "replaying the session journal %1 ended the program last time, so it "
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
    plan = plan_from_journal(journal, contents);
    if (plan.open_path.isEmpty()) notice = base_problem(journal, contents);
    break;
  }
  if (plan.open_path.isEmpty()) {
    for (const QString& copy : files) {
      if (!is_copy(copy)) continue;
      const RecoveryPlan from_copy = plan_from_copy(copy);
      plan.open_path = from_copy.open_path;
      plan.painted_at = from_copy.painted_at;
      plan.source = from_copy.source;
      break;
    }
  }
  // Taken away, the file loses nothing to the painting: only a file that holds something else
  // now has changed.
  plan.image_changed =
      plan.image_then.known() && QFileInfo::exists(plan.image_path) &&
      sha1_hex_of_file(plan.image_path) != QString::fromStdString(plan.image_then.sha1);
  plan.notice = notice;
  plan.files = files;
  return plan;
}

// Every session's plan, newest first, empty ones included for their notices.
std::vector<RecoveryPlan> plans_of_sessions(const RecoveryStore& store) {
  tidy_journals(store);
  QStringList sessions;
  QHash<QString, QStringList> files;
  const QString pattern = store.key() + QStringLiteral("-*");
  for (const QFileInfo& file :
       QDir(RecoveryStore::directory()).entryInfoList({pattern}, QDir::Files, QDir::Time)) {
    const QString session = store.session_of(file.fileName());
    if (session.isEmpty()) continue;
    if (!files.contains(session)) sessions << session;
    files[session] << file.absoluteFilePath();
  }
  std::vector<RecoveryPlan> plans;
  for (const QString& session : sessions) {
    const QStringList& kept = files[session];
    // A running program's session is its own to keep.
    if (std::any_of(kept.begin(), kept.end(), [](const QString& file) {
          return is_journal(file) && held_by_running_program(file);
        })) {
      continue;
    }
    plans.push_back(plan_of_session(kept));
  }
  // By when each was painted: a journal given its base just now is no newer for it.
  std::stable_sort(plans.begin(), plans.end(), [](const RecoveryPlan& a, const RecoveryPlan& b) {
    return a.painted_at > b.painted_at;
  });
  return plans;
}

}  // namespace

void discard_recovery(const RecoveryPlan& plan) {
  for (const QString& file : plan.files) QFile::remove(file);
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
      if (field.startsWith(QLatin1String("base copy "))) {
        contents.base_copy = field.mid(10);
      } else if (field.startsWith(QLatin1String("file "))) {
        const QStringList words = field.split(QLatin1Char(' '));
        if (words.size() < 4) throw ScriptError(name, number, "expected: file SIZE SHA1 PATH");
        contents.image.size = words[1].toLongLong();
        contents.image.sha1 = words[2].toStdString();
        contents.image_path = words.mid(3).join(QLatin1Char(' '));
      } else if (field.startsWith(QLatin1String("base "))) {
        const QStringList words = field.split(QLatin1Char(' '));
        if (words.size() < 4) throw ScriptError(name, number, "expected: base KIND PATH SHA1");
        contents.base_kind = words[1];
        contents.base_sha1 = words.last();
        contents.base_path = words.mid(2, words.size() - 3).join(QLatin1Char(' '));
      } else if (field == QLatin1String("held")) {
        contents.held = true;
      } else if (field.startsWith(QLatin1String("paper "))) {
        contents.paper_path = field.mid(6);
      } else if (field.startsWith(QLatin1String("layer "))) {
        contents.layer = field.mid(6);
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
  if (contents.image_path.isEmpty() && contents.base_kind == QLatin1String("image")) {
    contents.image_path = contents.base_path;  // an older journal, without its file line
    contents.image.sha1 = contents.base_sha1.toStdString();
  }
  return contents;
}

bool RecoveryPlan::paints_onto_image() const {
  return !journal_events.empty() && !image_path.isEmpty() && QFileInfo::exists(image_path) &&
         (open_path.isEmpty() || QFileInfo(open_path) != QFileInfo(image_path));
}

RecoveryPlan RecoveryPlan::onto_image() const {
  RecoveryPlan plan = *this;
  plan.open_path = image_path;
  plan.events = journal_events;
  plan.source = journal;
  plan.painted_at = QFileInfo(journal).lastModified();
  plan.image_changed = false;
  plan.notice.clear();
  return plan;
}

std::optional<ImageIdentity> RecoveryPlan::image_held() const {
  if (!image_then.known() || QFileInfo(open_path) == QFileInfo(image_path)) return std::nullopt;
  return image_then;
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

std::vector<RecoveryPlan> find_recoveries(const RecoveryStore& store) {
  std::vector<RecoveryPlan> plans = plans_of_sessions(store);
  for (const RecoveryPlan& plan : plans) {
    if (!plan.notice.isEmpty()) std::cerr << "tarvo: " << plan.notice.toStdString() << std::endl;
  }
  std::erase_if(plans, [](const RecoveryPlan& plan) { return plan.empty(); });
  return plans;
}

std::vector<RecoveryPlan> find_layer_recoveries(
    const QString& image_key, const QString& image_name, const QString& layer,
    const std::function<bool(const QString&)>& has_layer) {
  std::vector<RecoveryPlan> found;
  const auto take = [&](const QString& key, const QString& layer_name, bool other) {
    for (RecoveryPlan& plan : find_recoveries(RecoveryStore(key, QString()))) {
      plan.image_name = image_name;
      if (!layer_name.isEmpty()) plan.layer = layer_name;
      plan.other_layer = other;
      found.push_back(std::move(plan));
    }
  };
  const QString own = RecoveryStore::key_of_layer(image_key, layer);
  take(own, layer, false);
  // Paintings kept before paintings named their layer, under the image's own key.
  take(image_key, QString(), false);
  // The other layers' keys, each named by the layer line of one of its journals.
  const QString stem = RecoveryStore::layer_key_stem(image_key);
  const qsizetype key_length = stem.size() + 8;
  QHash<QString, QString> layer_of_key;
  QStringList keys;
  for (const QFileInfo& file :
       QDir(RecoveryStore::directory()).entryInfoList({stem + QLatin1Char('*')}, QDir::Files)) {
    const QString key = file.fileName().left(key_length);
    if (key == own || file.fileName().mid(key_length, 1) != QLatin1String("-")) continue;
    if (!keys.contains(key)) keys << key;
    if (!is_journal(file.fileName()) || !layer_of_key.value(key).isEmpty()) continue;
    try {
      layer_of_key[key] = read_journal(file.absoluteFilePath()).layer;
    } catch (const ScriptError&) {
    }
  }
  for (const QString& key : keys) {
    const QString name = layer_of_key.value(key);
    if (!name.isEmpty() && !has_layer(name)) {
      take(key, name, true);
      continue;
    }
    for (const RecoveryPlan& plan : find_recoveries(RecoveryStore(key, QString()))) {
      std::cerr << "tarvo: the painting of " << when(plan.painted_at).toStdString() << " on "
                << (name.isEmpty() ? std::string("another layer")
                                   : "the layer \"" + name.toStdString() + "\"")
                << " of " << image_name.toStdString() << " that was not saved is kept in "
                << plan.source.toStdString() << "; running Tarvo Paint on that layer offers it"
                << std::endl;
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const RecoveryPlan& a, const RecoveryPlan& b) {
    return a.painted_at > b.painted_at;
  });
  return found;
}

RecoveryPlan find_recovery(const RecoveryStore& store) {
  const std::vector<RecoveryPlan> plans = plans_of_sessions(store);
  for (const RecoveryPlan& plan : plans) {
    if (!plan.empty()) return plan;
  }
  RecoveryPlan none;
  for (const RecoveryPlan& plan : plans) {
    if (!plan.notice.isEmpty()) none.notice = plan.notice;
  }
  return none;
}

RecoveryPlan recovery_at_start(const Presence& presence, const RecoveryStore& store,
                               StartRequest& line) {
  std::vector<RecoveryPlan> kept = find_recoveries(store);
  if (kept.empty()) return {};
  const bool asked = !line.recover && !line.replaying && presence.someone_looking;
  RecoveryPlan plan;
  if (line.recover) {
    plan = kept.front();
    if (line.onto_file || plan.open_path.isEmpty()) {
      if (!plan.paints_onto_image()) {
        std::cerr << "tarvo: " << plan.description()
                  << " has no strokes to paint onto the file; `--recover` without --onto-file "
                     "writes it as it was"
                  << std::endl;
        return {};
      }
      plan = plan.onto_image();
    }
  } else if (asked) {
    plan = choose_recovery(kept);
  } else {
    for (const RecoveryPlan& each : kept)
      std::cerr << "tarvo: " << kept_in(each).toStdString() << std::endl;
  }
  if (plan.empty()) {
    const auto still_kept = [](const RecoveryPlan& each) { return QFileInfo::exists(each.source); };
    if (std::any_of(kept.begin(), kept.end(), still_kept)) {
      std::cerr << "tarvo: `tarvo " << line.image.toStdString()
                << " --recover --out FILE` writes the newest to FILE" << std::endl;
    }
    return {};
  }
  std::cerr << "tarvo: recovering the painting of " << when(plan.painted_at).toStdString()
            << " from " << plan.description() << std::endl;
  if (!plan.events.empty()) write_private_file(replay_mark(plan.source), {});
  if (line.out.isEmpty()) line.out = line.image;
  line.image = plan.open_path;
  if (QFileInfo(line.out) == QFileInfo(plan.image_path)) line.out_held = plan.image_held();
  if (line.out_held && plan.image_changed && !asked) {
    std::cerr << "tarvo: " << image_change(plan).toStdString()
              << "; the painting as it was is not written over it without asking (`--out FILE` "
                 "writes it elsewhere, `--onto-file` paints its strokes onto the file as it is "
                 "now)"
              << std::endl;
  }
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
