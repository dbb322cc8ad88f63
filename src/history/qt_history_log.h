#pragma once
// The history entry of the session under way (qt_history_store.h), written as the session goes:
// every input, the images and papers the host hands over, and a mark at each write-back. It is a
// gzip stream, flushed at every stroke's end and at least once a second, so that a session that
// crashes leaves an entry whose whole lines can be read back; the recovered painting's later
// write-back completes it.
//
// The pointer's thread only copies each input into a buffer, as the session journal does; a writer
// thread of low priority formats, compresses and writes, takes the checksums of images, encodes
// the ones to keep as PNG, and keeps the whole history within its size limit after each write-
// back. A write that fails is reported once on standard error; the session then goes on without
// its history.

#include <QSize>
#include <QString>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "file/qt_image_file.h"
#include "history/qt_history_store.h"
#include "script/event_script.h"

namespace tarvo {

// A recovered painting whose session's own entry this session completes: the crashed session's
// entry and how many of its inputs led to the journal the painting was recovered from.
struct RecoveredHistory {
  QString entry;       // the crashed session's .tvh
  int64_t inputs = 0;  // its inputs up to the journal's start
};

// An image the host handed over, as the history takes it: a copy of its planes, or a child that
// keeps them as they were without a copy (with a pixels_checksum_digest), and the image's size.
struct HandedImage {
  HostImage copy;
  std::shared_ptr<KeptPlanes> kept;
  QSize size;

  HandedImage() = default;
  // Implicit: a copy of the planes is an image handed over.
  HandedImage(HostImage planes)  // NOLINT(google-explicit-constructor)
      : copy(std::move(planes)),
        size(copy.red.empty() ? QSize() : QSize(copy.width(), copy.height())) {}
  HandedImage(std::shared_ptr<KeptPlanes> child, QSize image_size)
      : kept(std::move(child)), size(image_size) {}
};

class HistoryLog {
 public:
  // The entry of session in the painting's folder of store, begun when start() comes.
  HistoryLog(const HistoryStore& store, QString session, HistorySettings settings,
             std::size_t undo_bytes);
  // Finishes the stream (see finish()) if that has not been done.
  ~HistoryLog();
  HistoryLog(const HistoryLog&) = delete;
  HistoryLog& operator=(const HistoryLog&) = delete;

  // The image the session starts from, as the host handed it over. file, when given,
  // is an image file that the host vouches reads back as exactly these planes, the SHA-1 (hex)
  // of its bytes being file_sha1: the entry then keeps a copy of its bytes as the start picture,
  // which takes a fraction of the time an encoding would.
  void start(HandedImage image, QString file = {}, std::string file_sha1 = {});
  // The paper texture the host handed over: at the start, and at each "Get paper".
  void paper(Plane texture, int32_t width, int32_t height);
  // A later image the host handed over (a "Get image").
  void image(HandedImage image);
  void record(Verb verb, std::initializer_list<double> args);
  // A stroke ended: what is recorded reaches the file soon.
  void sync_soon();
  // A write-back succeeded: the planes written have this checksum (pixels_checksum) and size.
  void written(std::string planes_sha1, QSize size);
  // This session starts from a recovered painting: it is marked so, and at its first write-back
  // the crashed session's entry is completed, ending where the recovered painting began.
  void recovering(RecoveredHistory recovered);
  // Ends the stream. Without a write-back the entry is no history and goes, unless keep_unwritten
  // (the session ended without writing its painting, which recovery may bring back).
  void finish(bool keep_unwritten);
  // Waits until everything asked so far is on disk.
  void flush();

  const QString& path() const { return path_; }
  // The inputs recorded so far (the pointer's thread's own count).
  int64_t inputs() const { return inputs_; }

 private:
  struct Input {
    Verb verb = Verb::Form_Unload;
    uint8_t arg_count = 0;
    std::array<double, 12> args;
  };
  enum class Kind { Inputs, Start, Paper, Image, Written, Recovering, Finish };
  struct Item {
    Kind kind = Kind::Inputs;
    std::vector<Input> inputs;
    HandedImage image;  // Start, Image
    Plane paper;
    int32_t paper_width = 0, paper_height = 0;
    RecoveredHistory recovered;
    bool keep_unwritten = false;
    QString file;  // Start: the file that holds the planes, with its SHA-1
    std::string file_sha1;
    std::string planes_sha1;  // Written: what was written, and its size
    QSize size;
  };

  void push(Item item, bool wake);
  void run();
  void handle(Item& item);
  bool begin(const Item& item);
  void add_inputs(const std::vector<Input>& inputs);
  void add_paper(const Item& item);
  void add_image(const HandedImage& image);
  void add_end(const std::string& planes_sha1, QSize size);
  void complete_recovered();
  void end_stream(bool keep_unwritten);
  // Compresses text into the stream; flush: Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH or Z_FINISH.
  bool deflate_text(const std::string& text, int flush);
  QString store_picture(const QImage& picture, const QString& suffix);
  // The same for colour planes, encoded as PNG straight from them (png_encoder.h).
  QString store_planes(const HostImage& planes, const QString& suffix);
  // A copy of the image file as the start picture when its bytes have the SHA-1 sha1; empty
  // (and nothing left behind) when they do not.
  QString store_file_copy(const QString& file, const std::string& sha1);
  // The image handed over as a PNG: encoded from its copy here, or by the child that keeps it.
  QString store_image(const HandedImage& image, const QString& suffix);
  void fail(const QString& what);

  const QString folder_;
  const QString session_;
  const HistorySettings settings_;
  const std::size_t undo_bytes_;
  QString path_;
  int64_t inputs_ = 0;

  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<Item> pending_;
  bool sync_asked_ = false;
  bool busy_ = false;
  bool stopping_ = false;

  // The writer's own.
  struct Stream;
  std::unique_ptr<Stream> stream_;
  bool failed_ = false;
  bool finished_ = false;
  bool ended_ = false;  // a write-back is in the stream
  int images_ = 0, papers_ = 0;
  std::string pending_paper_;  // a paper handed over before the start
  std::string start_sha1_;
  QSize start_size_;
  RecoveredHistory recovered_;
};

}  // namespace tarvo
