#pragma once
// The stand-alone host: the host object of the program, working on one image file on disk.
//
// The image is read when the host is created: any format Qt reads, within the size the machine can
// hold; a file that is too big, cut short, empty or undecodable is refused with a RuntimeError and
// is never touched. A file that does not exist is a new white image of new_image_size, written on
// the first wik_Refresh. Sending the image back writes the file in its own format through an
// atomic save: a failed write raises and leaves the old file whole. Wik_SaveUndo keeps the file's
// previous content beside it as PATH~. Writing a file whose kind cannot carry everything it held
// (16-bit channels written with 8, several images of which one is written, a JPEG compressed
// again, colours in a grey-only or black-and-white format) keeps the original as PATH~ for the
// rest of the session, and standard error says so once.
//
// With an output_path, the image is read from image_path and written to output_path instead (in
// the format output_path's suffix names, else the read file's format); image_path is then never
// written, and the backup is output_path's previous content.
//
// The paper texture comes from paper_path (any picture, as luminance) or is the built-in grain; it
// is read again by each Wik_GetPaperWidth, so that "Get paper" picks up an edited paper file. The
// wallpaper is wallpaper_path or the built-in data/wallpaper.png.
//
// The host's image is the file as it was last read or written: when another program has saved
// over the file since, the host reads it again before it reports its size or hands out its planes,
// so the image's size can really change under the canvas. When the file cannot be written (a
// read-only or full disk, a deleted folder), the image is first saved as a recovery copy (see
// RecoveryStore) and standard error says where; the write's error is raised after that.

#include <QDateTime>
#include <QSize>
#include <QFileInfo>
#include <QString>

#include "app/host.h"
#include "file/qt_image_file.h"

class QSaveFile;

namespace tarvo {

struct FileHostOptions {
  QString image_path;
  QString paper_path;               // empty: the built-in paper grain
  QString wallpaper_path;           // empty: the built-in wallpaper
  QSize new_image_size{1024, 768};  // when image_path does not exist
  QString output_path;              // empty: the image is written back to image_path
};

class FileHost : public Host {
 public:
  explicit FileHost(FileHostOptions options);

  int32_t Wik_GetPaperWidth() override;
  int32_t wik_GetPaperHeight() override;
  Plane Wik_GetPaper() override;
  int32_t Wik_BufferWidth() override;
  int32_t Wik_BufferHeight() override;
  Plane Wik_GetRBuffer() override;
  Plane Wik_GetGBuffer() override;
  Plane Wik_GetBBuffer() override;
  void Wik_SaveUndo() override;
  void Wik_SetRbuffer(const Plane& plane) override;
  void Wik_SetGbuffer(const Plane& plane) override;
  void Wik_SetBbuffer(const Plane& plane) override;
  void wik_Refresh() override;
  std::string Wik_WallpaperFilename() override;
  void Wik_SendFormObject(CanvasWindow& form, int16_t flags) override;
  std::string host_name() override {
    return QFileInfo(options_.image_path).fileName().toStdString();
  }

 protected:
  // Commits the fully written image file over the old one. Returns false, with the reason in
  // file.errorString(), when it cannot; the old file then stays as it was. Tests replace it to
  // make the write fail.
  virtual bool commit_image(QSaveFile& file);

 private:
  void start_new_image();
  void check_write_target() const;
  const QString& write_path() const;
  void load_paper();
  void adopt(Plane& own, const Plane& plane, const char* method);
  // The ready copy of a plane when there is one (moved out), else a copy of own.
  static Plane hand_out(Plane& ready, const Plane& own);
  QString write_loss() const;
  void keep_original_before_losing(const QString& loss);
  void copy_file_to_backup();
  void write_image_file();
  void write_or_recover();
  // Reads the image file again when it has changed on disk since it was last read or written.
  void follow_file_on_disk();
  void remember_file_stamp();

  FileHostOptions options_;
  ImageLimits limits_;
  HostImage image_;
  // Copies of image_'s colour planes made as the host read its file at creation, handed out by
  // the next Wik_Get*Buffer calls instead of copying image_ then (start-up takes the planes right
  // after). Each is handed out once; all are dropped when image_ changes.
  HostImage ready_copies_;
  ImageFileTraits traits_;
  Plane paper_;
  // The file written to is the one that was read, and nothing has been written yet.
  bool file_is_original_ = false;
  // PATH~ holds the file as it was read.
  bool backup_is_original_ = false;
  // PATH~ keeps the original for the rest of the session; Wik_SaveUndo leaves it alone.
  bool keep_backup_ = false;
  // What the image file looked like when it was last read or written.
  QDateTime file_time_;
  qint64 file_size_ = -1;
};

// Registers a factory that creates a FileHost with options under kHostProgId.
void register_file_host(HostRegistry& registry, FileHostOptions options);

}  // namespace tarvo
