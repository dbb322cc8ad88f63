#pragma once
// The stand-alone host: the host object of the program, working on one image file on disk.
//
// The image is read when the host is created: any format Qt reads, within the size the machine can
// hold; a file that is too big, cut short, empty or undecodable is refused with a RuntimeError and
// is never touched. A file that does not exist is a new white image of new_image_size, written on
// the first wik_Refresh. Sending the image back writes the file in its own format, keeping what
// makes it the same file (write_back_file in file_identity.h: symbolic links followed, hard links
// kept, owner, group and mode kept) and what it held besides its pixels (carry_metadata in
// metadata_carry.h: EXIF, XMP, IPTC, the colour profile, PNG chunks; the orientation reset to
// upright where the pixels were turned upright). A failed write raises with the system's reason,
// leaves the old file whole and removes what it made. Wik_SaveUndo keeps the file's previous
// content as PATH~, beside the file a symbolic link leads to, readable by no one who may not read
// the file. Writing a file whose kind cannot carry everything it held (16-bit channels written
// with 8, several images of which one is written, a JPEG or lossy WebP compressed again, colours
// in a grey-only or black-and-white format) keeps the original as PATH~ for the rest of the
// session, and standard error says so once.
//
// With an output_path, the image is read from image_path and written to output_path instead (in
// the format output_path's suffix names, else the read file's format); image_path is then never
// written, and the backup is output_path's previous content.
//
// The paper texture comes from paper_path (any picture, as luminance) or is the built-in grain; it
// is read again by each Wik_GetPaperWidth, so that "Get paper" picks up an edited paper file. The
// wallpaper is wallpaper_path or the built-in data/wallpaper.png.
//
// The host's image is the file as the canvas last took it or gave it back. When another program
// saves over the file meanwhile, the host reads it again to report its size and hands it out on the
// next Get image; before any write it checks that the file is still the one it exchanged (size and
// checksum) and otherwise asks whether to overwrite it, save the painting under another name, or
// keep painting, and, where the session can (set_can_repaint), whether to paint its strokes onto
// the file as it is now instead, the default. A write-back that changes no pixel writes nothing,
// backup included. Only painted pixels take the canvas's colour: every other pixel keeps its exact
// value, its alpha and, in a file of 16-bit channels, its depth; a painted pixel's 8-bit colour is
// scaled to the file's depth. Transparent pixels reach the canvas composited over white, with the
// file's own colours and alpha beside them (layer_planes); a painted pixel takes the colour and
// alpha the canvas hands back in them, or becomes opaque in its colour when the canvas hands back
// none.
//
// When the file cannot be written (a read-only file or folder, a full disk, a deleted folder, a
// backup that cannot be made), a copy of the painting is first saved in the recovery folder (see
// RecoveryStore); then, where someone is looking, a message says what failed and where the copy
// is, and offers to save the painting under another name (which the host writes to from then on)
// or to keep painting. Otherwise, or when the user keeps painting, ImageNotWritten is raised.

#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/presence.h"
#include "file/file_identity.h"
#include "file/png_chunks.h"
#include "file/qt_image_file.h"
#include "file/qt_progress.h"

namespace tarvo {

// The digests of the rows of plane's image pixels (the spare column and row left out), taken with
// helper (row_digest).
RowDigests row_digests(const Plane& plane, RowHelper* helper);

struct FileHostOptions {
  QString image_path;
  QString paper_path;               // empty: the built-in paper grain
  QString wallpaper_path;           // empty: the built-in wallpaper
  QSize new_image_size{1024, 768};  // when image_path does not exist
  QString output_path;              // empty: the image is written back to image_path
  // Whether someone is there to answer a question or watch progress; the session's, which
  // outlives the host.
  const Presence* presence = &Presence::nobody();
  // The thread that shares reading the file and copying its planes; none: the host does it alone.
  RowHelper* helper = nullptr;
  // A recovered painting written to output_path: that file as it was when the painting began (its
  // size and SHA-1). The host takes it for the file it last read, so that writing over anything
  // else asks first. Empty checksum: the host knows nothing of the file it writes.
  qint64 output_size = -1;
  QByteArray output_checksum;
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
  LayerPlanes layer_planes() override;
  void set_layer_planes(const LayerPlanes& layer) override;
  std::string host_name() override {
    return QFileInfo(options_.image_path).fileName().toStdString();
  }
  std::string image_name() override { return host_name(); }
  void set_can_repaint(bool can) override { can_repaint_ = can; }
  std::string planes_file_checksum() override;
  std::string colour_profile() override { return traits_.colour_space.iccProfile().toStdString(); }

 protected:
  // Writes the image file over the old one as content makes it, keeping its identity, as
  // write_back_file does (file_identity.h): on failure the old file stays as it was and the backup
  // made is removed. Tests replace it to make the write fail.
  virtual FileWriteResult write_file(const std::string& path, const FileContent& content,
                                     Backup backup);

 private:
  // The file at a path as the host last read or wrote it.
  struct FileStamp {
    QDateTime time;
    qint64 size = -1;
    QByteArray checksum;  // empty: unknown (a new image, a file the host never read)
  };
  enum class Answer { kOverwrite, kSaveElsewhere, kKeepPainting, kPaintOnto };

  void start_new_image();
  void check_write_target() const;
  const QString& write_path() const;
  void load_paper();
  void take_file(ImageFile file, const QString& path);
  void adopt(const Plane*& incoming, const Plane& plane, const char* method);
  // The canvas's view of colour plane index (0 red, 1 green, 2 blue): the ready copy when there
  // is one, the plane itself when it can be lent, else a copy, composited over white where the
  // image is transparent.
  Plane hand_out(int index);
  Plane shown(const Plane& own) const;
  bool any_lent() const { return lent_[0] || lent_[1] || lent_[2]; }
  bool all_lent() const { return lent_[0] && lent_[1] && lent_[2]; }
  // Hands colour plane index over whole, the file standing in for it; the digests of its rows
  // tell later whether it was painted.
  Plane lend(int index);
  // Takes the lent planes back from the file, which holds them.
  void reclaim();
  // After a write-back: keeps the planes lent, lends them, or copies the canvas's planes into the
  // image, as the file now holds them or not. all_set: the canvas handed back all three planes;
  // written: the digests of the planes written while lent.
  void settle_lending(bool all_set, const std::array<RowDigests, 3>* written);
  // The image's planes: its own, or while lent, the canvas's planes being written back.
  ImagePlanes planes() const { return writing_.red ? writing_ : ImagePlanes(image_); }
  int32_t image_width() const { return any_lent() ? lent_size_.width() : image_.width(); }
  int32_t image_height() const { return any_lent() ? lent_size_.height() : image_.height(); }
  struct Incoming;
  // Takes the painted pixels of the incoming planes into the image; returns how many there were.
  int64_t take_painted_pixels(const Incoming& incoming);
  // The same for the incoming layer planes of an image with alpha.
  int64_t take_painted_layer(const LayerPlanes& in);
  QString write_loss() const;
  // The file whose metadata a write to path carries (with_carried_metadata).
  QString metadata_source(const QString& path) const;
  QByteArray with_carried_metadata(const QString& path, QByteArray bytes) const;
  // Whether the PNG file written to path can be written as it is encoded: the file it replaces has
  // no metadata to carry, or is a PNG whose chunks are carried as they are, which are then in
  // carried. problem tells what of them cannot be kept.
  bool streams_png(const QString& path, std::optional<std::vector<PngChunk>>& carried,
                   std::string& problem) const;
  // Encodes the image, carries the metadata of the file it replaces and writes it to path, making
  // the backup first when asked; returns the stamp of what was written.
  // progress, when given, is told how far the encoding is.
  FileStamp write_image_to(const QString& path, const QByteArray& format, bool backup,
                           const ProgressReport& progress = {});
  bool changed_elsewhere() const;
  // Writes the image to write_path(), asking first when the file changed elsewhere, and handling
  // a failure as the class comment says.
  // backup: PATH~ takes the file's previous content first.
  void write_back(bool backup);
  void write_or_recover(bool backup);
  void save_elsewhere_or_keep_painting(const QString& failure);
  Answer ask_about_change_elsewhere();
  bool save_under_another_name();
  // Reads the image file again when another program has changed it since it was last read.
  void follow_file_on_disk();

  FileHostOptions options_;
  // The canvas window, once handed to the host: the parent of its dialogs.
  QPointer<QWidget> window_;
  ImageLimits limits_;
  // The image as the canvas last took it or gave it back: colour, alpha and, for a deep file, its
  // exact pixels (null otherwise).
  HostImage image_;
  QImage deep_;
  // image_'s colour planes are the file of stamp_ as read, an 8-bit file without alpha that reads
  // back as exactly them: a plane handed out can be handed over whole, the file standing in for it.
  bool lendable_ = false;
  // The colour planes handed over whole (image_'s own is then empty): the canvas holds them, and
  // the file of stamp_ holds them as they were handed over or last written, with the digests of
  // their rows then, which tell whether a plane handed back was painted.
  std::array<bool, 3> lent_{};
  std::array<RowDigests, 3> lent_digests_;
  QSize lent_size_;
  // While lent, the canvas's planes of the write-back under way.
  ImagePlanes writing_;
  // Copies of image_'s colour planes made as the host read its file at creation, handed out by
  // the next Wik_Get*Buffer calls instead of copying image_ then (start-up takes the planes right
  // after). Each is handed out once; all are dropped when image_ changes.
  HostImage ready_copies_;
  // For planes to be lent: the digests of their rows, taken as the file was read
  // (PlaneCopy::kLent); empty once lent, or when the file's decoder could not take them (they are
  // then taken as the planes are lent).
  std::array<RowDigests, 3> read_digests_;
  ImageFileTraits traits_;
  FileStamp stamp_;
  // The file of stamp_ reads back as exactly the colour planes handed out (no transparency to
  // show over white, nothing lost in the write).
  bool stamp_is_planes_ = false;
  // The file as another program left it, read again for the size check and the next Get image.
  std::optional<ImageFile> on_disk_;
  QDateTime on_disk_time_;
  qint64 on_disk_size_ = -1;
  // The planes of the write-back under way, as the three set calls and set_layer_planes handed
  // them over: the canvas's own, unchanged until wik_Refresh, which takes their painted pixels
  // into the image without copying them first. A colour plane the canvas did not hand back is the
  // one it was handed, made again in unset_.
  struct Incoming {
    const Plane* red = nullptr;
    const Plane* green = nullptr;
    const Plane* blue = nullptr;
    const LayerPlanes* layer = nullptr;
    bool any() const { return red || green || blue; }
  };
  Incoming incoming_;
  HostImage unset_;
  Plane paper_;
  // Pixels taken from the canvas that have not reached the file yet.
  bool unwritten_ = false;
  bool backup_wanted_ = false;  // Wik_SaveUndo was called for the write-back under way
  // The file written to is the one that was read, and nothing has been written yet.
  bool file_is_original_ = false;
  // PATH~ holds the file as it was read.
  bool backup_is_original_ = false;
  // PATH~ keeps the original for the rest of the session; Wik_SaveUndo leaves it alone.
  bool keep_backup_ = false;
  // The session can paint its strokes onto the file as another program left it.
  bool can_repaint_ = false;
};

// Registers a factory that creates a FileHost with options under kHostProgId.
void register_file_host(HostRegistry& registry, FileHostOptions options);

}  // namespace tarvo
