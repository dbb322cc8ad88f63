#pragma once
// The session journal: every input of a painting session, as an event script in the recovery
// folder, with what it replays onto. A journal file reads:
//
//   # Tarvo 1.1.0 session journal, started 2026-12-08T14:25:01
//   #@ base image /home/ann/photo.png 3f2a...      (or: #@ base snapshot PATH CHECKSUM)
//   #@ base copy PATH                               (the journal's own copy of the image file)
//   #@ file 81234 3f2a... /home/ann/photo.png       (the image file as the host holds it)
//   #@ held                                         (the host held the base as it started)
//   #@ paper /home/ann/paper.png                    (header lines the session adds)
//   Form_Resize 1024 768                            (the prelude: the state inputs start from)
//   HProp1 8
//   # input
//   Form_MouseDown 1 0 120.5 88
//   ...
//
// The base is either the image file, named by path and verified by the SHA-1 of its bytes when the
// journal is replayed, or a snapshot of the planes that the journal writes itself beside it: the
// planes' bytes as they are in memory with the checksum that the base line names
// (plane_snapshot.h), where encoding them would take many seconds. A large image's planes are kept
// by a child process (KeptPlanes), which names the snapshot's checksum within a fifth of a second
// and then writes it, finishing it even when the program is killed: the journal names its base and
// takes inputs from that moment on, and recovery waits for a snapshot still being written. (Older
// journals' snapshots are PNG files named by their SHA-1; they replay as well.) An image file is
// taken only when it reads back as exactly the planes the journal starts from (a JPEG written back,
// say, does not): the host says so for the file it read or wrote without loss, and a small image is
// otherwise decoded to see; else a snapshot is written. Since another program may change the image
// file at any time, the journal then keeps a copy of its bytes beside it too, so that it replays
// whatever becomes of the file. The "file" line names the image file, when the host has one, as the
// host last read or wrote it (its size and SHA-1): what the painting began from, which recovery
// compares with the file as it is then. "held" says that the host held exactly the base when the
// journal started (at the session's start, or just after a write-back): such a journal without
// inputs adds nothing to what the host has.
//
// Recording costs the pointer's thread one copy of the input's name and arguments into a buffer. A
// writer thread does everything else: the lines, the base and the file. The inputs reach the file
// at every stroke's end and at least once a second, where a kill cannot take them; fdatasync
// follows within a fifth of a second, shared by strokes that end in quick succession, so that a
// power cut loses at most the last second too. A restart (after the image was written back or
// autosaved) writes a new file with its base and prelude, then renames it over
// the old one, so the file on disk is always a whole journal. A write that fails (a full disk) is
// reported once on standard error; the journal then waits for the next restart and painting goes
// on.

#include <sys/types.h>

#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "file/qt_image_file.h"
#include "recovery/kept_planes.h"
#include "script/event_script.h"

namespace tarvo {

// What a journal paints over.
struct JournalBase {
  enum class Kind { ImageFile, Snapshot };
  Kind kind = Kind::Snapshot;
  QString image_path;  // ImageFile: the file, taken when it reads back as the planes
};

// An image file as it was at some moment: its size and the SHA-1 of its bytes, in hex.
struct ImageIdentity {
  qint64 size = -1;
  std::string sha1;  // empty: unknown
  bool known() const { return !sha1.empty() && size >= 0; }
};

// What a journal starts from: the committed planes (copied on the pointer's thread, or for a large
// image kept by a child process: SessionJournal::keep_planes), the base to describe them by, the
// header lines the caller adds ("paper PATH") and the prelude's script lines.
struct JournalStart {
  HostImage planes;  // empty when kept holds them
  std::unique_ptr<KeptPlanes> kept;
  JournalBase base;
  // Over the image file: the SHA-1 (hex) of the file that the host vouches reads back as the
  // planes (Host::planes_file_checksum); empty when it cannot say.
  std::string planes_file_sha1;
  bool held_by_host = false;
  // The image file as the host holds it, when that is not what is on disk now (a painting
  // recovered as it was, over a file changed since). Without it, a start over the image file
  // takes the file as it is, and a start over a snapshot the file as the journal last saw it.
  std::optional<ImageIdentity> image_as_held;
  std::vector<std::string> header;
  std::vector<std::string> prelude;
};

// The comment line between a journal's prelude and its inputs.
inline constexpr std::string_view kJournalInputMark = "# input";

class SessionJournal {
 public:
  // write(2) or a stand-in for it (tests simulate a full disk with one).
  using WriteCall = std::function<ssize_t(int, const void*, std::size_t)>;

  // The journal is written to path once the first restart() has its base; its snapshots go beside
  // it as PATH-base-N.tvp (path without ".tvs").
  explicit SessionJournal(QString path, WriteCall write = ::write);
  // Writes what it holds and stops the writer.
  ~SessionJournal();
  SessionJournal(const SessionJournal&) = delete;
  SessionJournal& operator=(const SessionJournal&) = delete;

  const QString& path() const { return path_; }

  // Takes the planes start begins from, as they are now: a copy of a small image, a child process
  // keeping a large one (when the system gives no process, a copy too), which shares none of the
  // planes in unneeded (KeptPlanes::keep).
  void keep_planes(JournalStart& start, const Plane& red, const Plane& green, const Plane& blue,
                   std::span<const Plane* const> unneeded = {}) const;
  // Appends one input line.
  void record(Verb verb, std::initializer_list<double> args);
  // Puts what was recorded on disk now (a stroke ended).
  void sync_soon();
  // Starts the journal afresh from start; the inputs recorded after this call follow its prelude.
  void restart(JournalStart start);
  // Waits until everything recorded and every restart asked for so far is on disk (or has failed).
  void flush();
  // Stops writing and removes the journal and its snapshot (after a normal close). A base still
  // being written (the restart after the close's own write-back) is abandoned rather than waited
  // for: nothing of it is needed any more.
  void remove_files();
  // Files to remove once the first restart is safely on disk (what a recovery was made from).
  void remove_after_first_base(QStringList files);

  // True while the last write succeeded.
  bool ok() const;

 private:
  // An input as it arrived: formatting it is left to the writer.
  struct Input {
    Verb verb = Verb::Form_Unload;
    uint8_t arg_count = 0;
    std::array<double, 12> args;
  };
  struct Chunk {
    std::unique_ptr<JournalStart> start;  // null: the inputs continue the current journal
    std::vector<Input> inputs;
  };

  void run();
  // Returns true when it wrote inputs to the file.
  bool write_chunk(Chunk& chunk);
  bool begin_file(JournalStart& start);
  // The base a journal names, as describe_base makes it (qt_journal_base.cpp).
  struct Base {
    std::string line;      // the base lines; empty when no base could be made
    QString file;          // the snapshot or copy written for it
    int unsynced_fd = -1;  // file, still open, for the caller to sync once the journal names it
    enum class Kind {
      Whole,          // whole once synced
      CopyUnchecked,  // a copy of the image file whose SHA-1 is still to be taken (check_copy_of)
      ChildWriting,   // a snapshot begun by the child keeping the planes, which writes it on
                      // (base_writer_, once the journal names it)
    } kind = Kind::Whole;
  };
  Base describe_base(JournalStart& start);
  // Once the child writing the base has ended (waiting up to timeout_ms for it): the journal is
  // replayable, or, when the base failed, removed.
  void check_base(int timeout_ms);
  // The base is whole on disk, or failed: flush() waits no more, and what a whole base
  // supersedes goes.
  void base_settled(bool whole);
  // Takes the SHA-1 of copy, the journal's base, on a thread of its own; check_copy then has the
  // journal go on, or, when the copy is not the file the host vouched for, start again from start
  // over a snapshot.
  void check_copy_of(const QString& copy, std::unique_ptr<JournalStart> start);
  void check_copy();
  // Stops the check of a copy the journal names no more.
  void drop_copy_check();
  // The image file's bytes when it holds exactly the planes (sha1 is set to theirs either way).
  std::optional<QByteArray> file_holding_planes(const JournalStart& start, const QString& image,
                                                std::string& sha1);
  // The "file" line, or nothing when the host has no image file or it cannot be read.
  std::string describe_image(const JournalStart& start);
  // Copies the file at path into fd; size is the bytes copied, -1 when the file cannot be read.
  // False when the copy could not be written.
  bool copy_file_into(const QString& path, int fd, qint64& size);
  // Stops the child keeping planes for a base no longer wanted, without waiting for its end.
  static void abandon(KeptPlanes& kept);
  // A private file for a base; -1 (reported) when it cannot be made.
  int create_base_file(const QString& path);
  bool append(const std::string& text);
  bool write_all(int fd, const void* bytes, std::size_t size);
  void fail(const QString& what, int error_number);

  const QString path_;
  const WriteCall write_;
  std::thread writer_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<Chunk> pending_;
  bool sync_asked_ = false;
  bool stopping_ = false;
  bool removed_ = false;
  bool busy_ = false;  // the writer is writing what it took from pending_
  bool ok_ = true;
  QStringList remove_after_base_;
  // Set by remove_files: the writer drops what it is writing at the next piece.
  std::atomic<bool> abandoned_ = false;
  pid_t writing_child_ = 0;    // the child writing the current base, under mutex_
  bool base_pending_ = false;  // the journal names a base its child is still writing, under mutex_

  // The writer's own.
  int fd_ = -1;
  bool writing_ = false;  // the current journal is whole on disk and takes appends
  bool reported_ = false;
  QString snapshot_;                         // the snapshot or the copy of the image file
  std::unique_ptr<KeptPlanes> base_writer_;  // the child still writing snapshot_
  // A copy of the image file named as the base before its SHA-1 was taken.
  struct CopyCheck {
    std::thread thread;  // takes the SHA-1
    std::atomic<bool> done = false;
    std::atomic<bool> dropped = false;  // the journal no longer names the copy: stop
    std::string sha1;                   // empty when the copy could not be read
    qint64 size = -1;
    std::unique_ptr<JournalStart> start;  // what the journal started from
    std::string since;                    // the inputs appended since
  };
  std::unique_ptr<CopyCheck> copy_check_;
  int snapshot_number_ = 0;
  ImageIdentity image_seen_;  // the image file as the host last held it
};

// A copy of the committed colour planes, with the spare column and row.
HostImage copy_planes(const Plane& red, const Plane& green, const Plane& blue);

}  // namespace tarvo
