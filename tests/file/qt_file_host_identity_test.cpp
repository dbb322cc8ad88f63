// The file host's write-back keeping the file what it was: its links, permissions and metadata, and
// TIFF and WebP files like PNG ones; and a failed write that says why and leaves nothing behind.
// Permissions mean nothing to root: run as root, the test makes a user who is not (a member of
// group tarvo-artists) and a 2 MB file system to fill, and runs itself again as that user.

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "core/runtime_error.h"
#include "file/qt_file_host.h"
#include "support/qt_error_of.h"

using namespace tarvo;

namespace {

constexpr const char* kUser = "tarvo-file-test";
constexpr const char* kGroup = "tarvo-artists";

QByteArray file_bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write_bytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray encoded(const QImage& picture, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setQuality(quality);
  return writer.write(picture) ? bytes : QByteArray();
}

QImage test_picture(int w, int h) {
  QImage picture(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) picture.setPixel(x, y, qRgb(x * 37 % 256, y * 53 % 256, x + y));
  }
  return picture;
}

using tarvo::testing::error_of;

// Opens the file in a host, flips the red of pixel (x, y) and sends the image back, with a backup.
void paint_pixel(FileHost& host, int x, int y) {
  Plane red = host.Wik_GetRBuffer();
  red(x, y) = static_cast<uint8_t>(red(x, y) ^ 0x80);
  host.Wik_SaveUndo();
  host.Wik_SetRbuffer(red);
  host.wik_Refresh();
}
void paint_pixel(const QString& path, int x = 1, int y = 1) {
  FileHostOptions options;
  options.image_path = path;
  FileHost host(options);
  paint_pixel(host, x, y);
}

struct stat status_of(const QString& path) {
  struct stat status {};
  stat(QFile::encodeName(path).constData(), &status);
  return status;
}

mode_t mode_of(const QString& path) {
  return status_of(path).st_mode & 07777;
}

// A PNG's chunks: type and data, in order.
QList<QPair<QByteArray, QByteArray>> png_chunks(const QByteArray& png) {
  QList<QPair<QByteArray, QByteArray>> chunks;
  for (qsizetype at = 8; at + 12 <= png.size();) {
    const auto* p = reinterpret_cast<const uint8_t*>(png.constData() + at);
    const qsizetype length = qsizetype{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3];
    chunks.append({png.mid(at + 4, 4), png.mid(at + 8, length)});
    at += 12 + length;
  }
  return chunks;
}

QByteArray png_chunk(const QByteArray& type, const QByteArray& data) {
  QByteArray chunk(4, '\0');
  for (int i = 0; i < 4; ++i) chunk[i] = char(data.size() >> (24 - 8 * i));
  const QByteArray body = type + data;
  uint32_t crc = 0xffffffffu;
  for (const char byte : body) {
    crc ^= static_cast<uint8_t>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  crc = ~crc;
  QByteArray tail(4, '\0');
  for (int i = 0; i < 4; ++i) tail[i] = char(crc >> (24 - 8 * i));
  return chunk + body + tail;
}

// Collects what is written to standard error while it lives.
class StandardErrorCapture {
 public:
  StandardErrorCapture() : saved_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~StandardErrorCapture() { std::cerr.rdbuf(saved_); }

 private:
  std::ostringstream text_;
  std::streambuf* saved_;
};

}  // namespace

class FileHostIdentityTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    qputenv("XDG_STATE_HOME", scratch_.filePath(QStringLiteral("state")).toUtf8());
  }
  void links_are_written_through();
  void permissions_of_the_file_and_its_backup_are_kept();
  void a_jpeg_keeps_its_exif_upright();
  void a_png_keeps_its_chunks_and_gains_none();
  void tiff_and_webp_write_back_as_png_does();
  void a_failed_write_says_why_and_leaves_nothing();

 private:
  QTemporaryDir scratch_;
  QString scratch_file(const QString& name) { return scratch_.filePath(name); }
};

// A hard link shows the painting under both names, the file keeping its inode; a symbolic link
// stays a link and the backup goes beside the file it leads to.
void FileHostIdentityTest::links_are_written_through() {
  const QString a = scratch_file(QStringLiteral("a.png")),
                b = scratch_file(QStringLiteral("b.png"));
  QVERIFY(test_picture(8, 8).save(a));
  QCOMPARE(link(QFile::encodeName(a).constData(), QFile::encodeName(b).constData()), 0);
  const ino_t inode = status_of(a).st_ino;
  paint_pixel(a, 2, 3);
  QCOMPARE(status_of(a).st_ino, inode);
  QCOMPARE(file_bytes(b), file_bytes(a));
  QCOMPARE(QImage(b).pixel(2, 3), QImage(a).pixel(2, 3));
  QVERIFY(QImage(b).pixel(2, 3) != test_picture(8, 8).pixel(2, 3));

  QVERIFY(QDir(scratch_.path()).mkpath(QStringLiteral("art")));
  QVERIFY(QDir(scratch_.path()).mkpath(QStringLiteral("links")));
  const QString real = scratch_file(QStringLiteral("art/real.png"));
  const QString through = scratch_file(QStringLiteral("links/link.png"));
  QVERIFY(test_picture(8, 8).save(real));
  QVERIFY(QFile::link(QStringLiteral("../art/real.png"), through));
  paint_pixel(through);
  QVERIFY(QFileInfo(through).isSymLink());
  QVERIFY(QFile::exists(real + QLatin1Char('~')));
  QCOMPARE(QDir(scratch_file(QStringLiteral("links"))).entryList(QDir::Files | QDir::System),
           QStringList{QStringLiteral("link.png")});
}

// A private file and its backup stay private; a file of a group the user is in keeps its group
// and mode, backup included.
void FileHostIdentityTest::permissions_of_the_file_and_its_backup_are_kept() {
  const QString secret = scratch_file(QStringLiteral("secret.png"));
  QVERIFY(test_picture(8, 8).save(secret));
  QCOMPARE(chmod(QFile::encodeName(secret).constData(), 0600), 0);
  paint_pixel(secret);
  QCOMPARE(mode_of(secret), mode_t{0600});
  QCOMPARE(mode_of(secret + QLatin1Char('~')), mode_t{0600});

  const group* artists = getgrnam(kGroup);
  if (geteuid() == 0 || artists == nullptr) QSKIP("needs a user who is not root, in tarvo-artists");
  const QString shared = scratch_file(QStringLiteral("shared.png"));
  QVERIFY(test_picture(8, 8).save(shared));
  QCOMPARE(chown(QFile::encodeName(shared).constData(), uid_t(-1), artists->gr_gid), 0);
  QCOMPARE(chmod(QFile::encodeName(shared).constData(), 0640), 0);
  paint_pixel(shared);
  for (const QString& path : {shared, shared + QLatin1Char('~')}) {
    QCOMPARE(status_of(path).st_gid, artists->gr_gid);
    QCOMPARE(mode_of(path), mode_t{0640});
  }
}

// A photograph taken sideways is painted upright: every EXIF tag survives the write, with the
// orientation reset to upright.
void FileHostIdentityTest::a_jpeg_keeps_its_exif_upright() {
  const QString path = scratch_file(QStringLiteral("photo.jpg"));
  QVERIFY(test_picture(40, 30).save(path, "jpeg"));
  {
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = uint16_t{6};  // turned a quarter clockwise
    image->exifData()["Exif.Image.Artist"] = std::string("A. Painter");
    image->exifData()["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:01 10:00:00");
    image->writeMetadata();
  }
  {
    StandardErrorCapture quiet;  // the original is kept, and standard error says so
    FileHostOptions options;
    options.image_path = path;
    FileHost host(options);
    QCOMPARE(host.Wik_BufferWidth(), 30);  // upright
    paint_pixel(host, 3, 3);
  }
  QCOMPARE(QImage(path).size(), QSize(30, 40));
  auto image = Exiv2::ImageFactory::open(path.toStdString());
  image->readMetadata();
  Exiv2::ExifData& exif = image->exifData();
  QCOMPARE(QString::fromStdString(exif["Exif.Image.Orientation"].toString()), QString("1"));
  QCOMPARE(QString::fromStdString(exif["Exif.Image.Artist"].toString()), QString("A. Painter"));
  QCOMPARE(QString::fromStdString(exif["Exif.Photo.DateTimeOriginal"].toString()),
           QString("2024:05:01 10:00:00"));
  QImageReader reader(path);
  QCOMPARE(reader.transformation(), QImageIOHandler::TransformationNone);
}

// A PNG keeps its gamma, its time of modification and a private chunk of another program; no
// colour profile or resolution is made up for it.
void FileHostIdentityTest::a_png_keeps_its_chunks_and_gains_none() {
  const QString path = scratch_file(QStringLiteral("chunks.png"));
  QByteArray png = encoded(test_picture(12, 10), "png").left(8);
  const QByteArray gamma("\x00\x00\xb1\x8f", 4);  // 1 / 2.2
  const QByteArray time("\x07\xd0\x01\x02\x03\x04\x05", 7);
  const QByteArray private_data("kept as it was");
  for (const auto& [type, data] : png_chunks(encoded(test_picture(12, 10), "png"))) {
    if (type == "IHDR") {
      png += png_chunk(type, data) + png_chunk("gAMA", gamma) + png_chunk("tIME", time);
    } else if (type == "IEND") {
      png += png_chunk("prVt", private_data) + png_chunk(type, data);
    } else if (type == "IDAT") {
      png += png_chunk(type, data);
    }
  }
  QVERIFY(write_bytes(path, png));
  paint_pixel(path, 4, 4);
  QMap<QByteArray, QByteArray> written;
  for (const auto& [type, data] : png_chunks(file_bytes(path))) written.insert(type, data);
  QCOMPARE(written.value("gAMA"), gamma);
  QCOMPARE(written.value("prVt"), private_data);
  QVERIFY(written.contains("tIME"));
  QVERIFY(written.value("tIME") != time);  // the time of this write
  QVERIFY(!written.contains("iCCP"));
  QVERIFY(!written.contains("pHYs"));
  QCOMPARE(qRed(QImage(path).pixel(4, 4)), qRed(test_picture(12, 10).pixel(4, 4)) ^ 0x80);
}

// A 16-bit TIFF stays 16-bit with every unpainted pixel exact, an 8-bit TIFF and a lossless WebP
// keep every pixel; a lossy WebP is written lossy again, its original kept beside it.
void FileHostIdentityTest::tiff_and_webp_write_back_as_png_does() {
  QImage deep(8, 8, QImage::Format_RGBA64);
  deep.fill(QColor::fromRgba64(0x1234, 0x5678, 0x9abc, 0xffff));
  const QString deep_tiff = scratch_file(QStringLiteral("deep.tif"));
  QVERIFY(deep.save(deep_tiff, "tiff"));
  const QImage deep_before(deep_tiff);
  QCOMPARE(deep_before.depth(), 64);
  paint_pixel(deep_tiff, 2, 3);
  const QImage deep_after(deep_tiff);
  QCOMPARE(deep_after.depth(), 64);
  QCOMPARE(deep_after.pixelColor(0, 0).rgba64(), deep_before.pixelColor(0, 0).rgba64());
  QCOMPARE(deep_after.pixelColor(2, 3).rgba64().red(), quint16((0x12 ^ 0x80) * 257));

  const QImage picture = test_picture(16, 12);
  const QString tiff = scratch_file(QStringLiteral("flat.tiff"));
  const QString webp = scratch_file(QStringLiteral("lossless.webp"));
  QVERIFY(picture.save(tiff, "tiff"));
  QVERIFY(write_bytes(webp, encoded(picture, "webp", 100)));
  for (const QString& path : {tiff, webp}) {
    paint_pixel(path, 5, 6);
    QImage expected = picture;
    expected.setPixel(5, 6,
                      qRgb(qRed(picture.pixel(5, 6)) ^ 0x80, qGreen(picture.pixel(5, 6)),
                           qBlue(picture.pixel(5, 6))));
    QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), expected);
    QCOMPARE(QImageReader(path).format(), QImageReader(path + QLatin1Char('~')).format());
  }
  QVERIFY(file_bytes(webp).contains("VP8L"));

  const QString lossy = scratch_file(QStringLiteral("lossy.webp"));
  QVERIFY(write_bytes(lossy, encoded(picture, "webp", 80)));
  const QByteArray original = file_bytes(lossy);
  {
    StandardErrorCapture quiet;
    FileHostOptions options;
    options.image_path = lossy;
    FileHost host(options);
    paint_pixel(host, 1, 1);
    paint_pixel(host, 2, 2);  // the backup keeps the original for the whole session
  }
  QCOMPARE(file_bytes(lossy + QLatin1Char('~')), original);
  QVERIFY(file_bytes(lossy).contains("VP8 "));
}

// A full disk and a read-only file: the message gives the system's reason, the file stays as it
// was, and no backup or temporary file is left.
void FileHostIdentityTest::a_failed_write_says_why_and_leaves_nothing() {
  if (geteuid() == 0) QSKIP("root may write any file, and fill any disk");
  const QString read_only = scratch_file(QStringLiteral("read-only.png"));
  QVERIFY(test_picture(8, 8).save(read_only));
  QCOMPARE(chmod(QFile::encodeName(read_only).constData(), 0444), 0);
  QCOMPARE(error_of([&] { paint_pixel(read_only); }).section(QLatin1Char('\n'), 0, 0),
           QStringLiteral("cannot write %1: Permission denied").arg(read_only));
  QVERIFY(!QFile::exists(read_only + QLatin1Char('~')));

  const QByteArray full = qgetenv("TARVO_HOST_FULL_DISK");
  if (full.isEmpty()) QSKIP("needs a small file system (run the test as root)");
  const QString noise = QString::fromUtf8(full) + QStringLiteral("/noise.png");
  // About 1.5 MB of PNG: the disk holds it, but not a second file as large.
  QImage picture(700, 700, QImage::Format_RGB888);
  for (int y = 0; y < picture.height(); ++y) {
    uchar* line = picture.scanLine(y);
    for (int x = 0; x < 3 * picture.width(); ++x)
      line[x] = uchar(QRandomGenerator::global()->generate());
  }
  QVERIFY(picture.save(noise));
  const QByteArray before = file_bytes(noise);
  FileHostOptions options;
  options.image_path = noise;
  FileHost host(options);
  for (int attempt = 0; attempt < 2; ++attempt) {
    Plane red = host.Wik_GetRBuffer();
    for (int x = 0; x < 400; ++x) red(x, 10 + attempt) = static_cast<uint8_t>(~red(x, 10));
    host.Wik_SaveUndo();
    host.Wik_SetRbuffer(red);
    // The new contents find the disk full (the backup is a second name for the old file).
    const QString error = error_of([&] { host.wik_Refresh(); }).section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(error.startsWith(QStringLiteral("cannot ")) && error.contains(noise) &&
                 error.endsWith(QStringLiteral(": No space left on device")),
             qPrintable(error));
    QCOMPARE(file_bytes(noise), before);
    QCOMPARE(QDir(QString::fromUtf8(full)).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("noise.png")});
  }
  QFile::remove(noise);
}

namespace {

bool run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// As root: makes the user and group, a scratch folder and a 2 MB file system, and runs this test
// again as the user. Returns its exit status, or -1 when the user cannot be made.
int run_as_test_user(int argc, char** argv) {
  const std::string user = kUser, group = kGroup;
  // The identity tests make the same user, maybe at the same time: whoever loses the race finds it.
  if (!run("getent group " + group + " >/dev/null || groupadd -r " + group +
           " 2>/dev/null || getent group " + group + " >/dev/null") ||
      !run("id -u " + user + " >/dev/null 2>&1 || useradd -r -M -s /usr/sbin/nologin " + user +
           " 2>/dev/null || id -u " + user + " >/dev/null") ||
      !run("usermod -a -G " + group + " " + user)) {
    std::cerr << "qt_file_host_identity_test: cannot make user " << user << "; testing as root\n";
    return -1;
  }
  char scratch_template[] = "/tmp/tarvo-host-identity-XXXXXX";
  const std::string scratch = mkdtemp(scratch_template);
  const std::string full = scratch + "/full", work = scratch + "/work";
  const std::string self = scratch + "/qt_file_host_identity_test";
  std::filesystem::create_directories(full);
  std::filesystem::create_directories(work);
  std::filesystem::copy_file("/proc/self/exe", self);
  chmod(scratch.c_str(), 0755);
  const bool mounted = mount("tarvo-full", full.c_str(), "tmpfs", 0, "size=2m,mode=0755") == 0;
  if (!mounted) std::cerr << "qt_file_host_identity_test: cannot mount a small tmpfs\n";
  run("chown " + user + " " + full + " " + work);
  std::string command = "runuser -u " + user + " -- env -u XDG_RUNTIME_DIR HOME=" + work +
                        " TMPDIR=" + work + (mounted ? " TARVO_HOST_FULL_DISK=" + full : "") + " " +
                        self;
  for (int i = 1; i < argc; ++i) command += std::string(" '") + argv[i] + "'";
  const int status = std::system(command.c_str());
  if (mounted) umount(full.c_str());
  std::filesystem::remove_all(scratch);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (geteuid() == 0) {
    const int status = run_as_test_user(argc, argv);
    if (status >= 0) return status;
  }
  QApplication application(argc, argv);
  FileHostIdentityTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_file_host_identity_test.moc"
