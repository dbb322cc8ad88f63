// The file host against real image files: every PNG colour type and depth, malformed and truncated
// files, the write-back with its backup, and the paper and wallpaper it offers.

#include "file/qt_file_host.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <functional>
#include <iostream>
#include <sstream>

#include "app/startup.h"
#include "appearance/qt_data_files.h"
#include "canvas/canvas_buffers.h"
#include "core/runtime_error.h"
#include "render/brush_tables.h"
#include "render/paper_grain.h"
#include "render/segment_renderer.h"
#include "support/fake_canvas_window.h"
#include "support/png_reference_decoder.h"
#include "support/qt_error_of.h"

using namespace tarvo;

namespace {

FileHostOptions options_for(const QString& image_path, QSize new_image_size = QSize(1024, 768)) {
  FileHostOptions options;
  options.image_path = image_path;
  options.new_image_size = new_image_size;
  return options;
}

FileHostOptions with_paper(FileHostOptions options, const QString& paper_path) {
  options.paper_path = paper_path;
  return options;
}

QString shared_data(const QString& folder) {
  return QStringLiteral(TARVO_SHARED_DATA_DIR "/") + folder;
}

QStringList png_files(const QString& folder) {
  QStringList paths;
  for (const QString& name : QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files)) {
    paths << folder + QLatin1Char('/') + name;
  }
  return paths;
}

QByteArray file_bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write_bytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

using tarvo::testing::error_of;

// The host's planes against the reference decode: each pixel's colour as the canvas shows it, over
// white by its alpha (which the host keeps aside); the spare column and row zero.
bool planes_match_reference(FileHost& host, const testing::ReferencePicture& reference,
                            QString* mismatch) {
  const Plane red = host.Wik_GetRBuffer(), green = host.Wik_GetGBuffer(),
              blue = host.Wik_GetBBuffer();
  const int w = reference.width, h = reference.height;
  if (host.Wik_BufferWidth() != w || host.Wik_BufferHeight() != h || red.columns() != w + 1 ||
      red.rows() != h + 1) {
    *mismatch = QStringLiteral("size");
    return false;
  }
  static const uint8_t kSpare[4] = {0, 0, 0, 255};
  for (int y = 0; y <= h; ++y) {
    for (int x = 0; x <= w; ++x) {
      const uint8_t* p = x == w || y == h ? kSpare : reference.pixel(x, y);
      uint8_t c[3];
      for (int i = 0; i < 3; ++i)
        c[i] = static_cast<uint8_t>((p[i] * p[3] + 255 * (255 - p[3]) + 127) / 255);
      if (red(x, y) != c[0] || green(x, y) != c[1] || blue(x, y) != c[2]) {
        *mismatch = QStringLiteral("pixel %1, %2 is %3 %4 %5, not %6 %7 %8")
                        .arg(x)
                        .arg(y)
                        .arg(red(x, y))
                        .arg(green(x, y))
                        .arg(blue(x, y))
                        .arg(c[0])
                        .arg(c[1])
                        .arg(c[2]);
        return false;
      }
    }
  }
  return true;
}

// A host whose image file write always fails, as a full disk would make it, having made nothing.
class FailingCommitHost : public FileHost {
 public:
  using FileHost::FileHost;

 protected:
  FileWriteResult write_file(const std::string& path, const FileContent&, Backup) override {
    return {"cannot write " + path + ": No space left on device", path};
  }
};

uint32_t png_crc(const QByteArray& bytes) {
  uint32_t crc = 0xffffffffu;
  for (const char byte : bytes) {
    crc ^= static_cast<uint8_t>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put_be32(QByteArray& bytes, int at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

// A valid small PNG whose header then claims width x height (with a correct CRC).
QByteArray png_claiming(uint32_t width, uint32_t height) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImage(4, 4, QImage::Format_RGB888).save(&buffer, "png");
  put_be32(bytes, 16, width);  // IHDR data starts at 16: width, height, ...
  put_be32(bytes, 20, height);
  put_be32(bytes, 29, png_crc(bytes.mid(12, 17)));  // CRC over type and 13 data bytes
  return bytes;
}

QImage test_picture(int w, int h, QImage::Format format) {
  QImage picture(w, h, format);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      picture.setPixel(x, y, qRgba(x * 37 % 256, y * 53 % 256, (x + y) * 11 % 256, (x * y) % 256));
    }
  }
  return picture;
}

// How Qt itself turns the file into 8-bit pixels (RGBA when it has transparency, else RGB).
QImage qt_pixels(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QImage picture = reader.read();
  return picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_RGBA8888
                                                           : QImage::Format_RGB888);
}

// Whether the planes (and alpha, when given) hold the pixels, with the spare column and row zero.
bool planes_hold(const QImage& pixels, const Plane& red, const Plane& green, const Plane& blue,
                 const Plane* alpha, QString* mismatch) {
  const int w = pixels.width(), h = pixels.height(), step = alpha ? 4 : 3;
  for (const Plane* plane : {&red, &green, &blue, alpha}) {
    if (plane && (plane->columns() != w + 1 || plane->rows() != h + 1)) {
      *mismatch = QStringLiteral("plane of %1 x %2").arg(plane->columns()).arg(plane->rows());
      return false;
    }
  }
  for (int y = 0; y <= h; ++y) {
    const uchar* line = y < h ? pixels.constScanLine(y) : nullptr;
    for (int x = 0; x <= w; ++x) {
      const bool spare = x == w || y == h;
      const Plane* planes[4] = {&red, &green, &blue, alpha};
      for (int c = 0; c < step; ++c) {
        const int expected = spare ? 0 : line[x * step + c];
        if ((*planes[c])(x, y) != expected) {
          *mismatch = QStringLiteral("channel %1 at %2, %3 is %4, not %5")
                          .arg(c)
                          .arg(x)
                          .arg(y)
                          .arg((*planes[c])(x, y))
                          .arg(expected);
          return false;
        }
      }
    }
  }
  return true;
}

void invert_box(Plane& plane, int x0, int y0, int x1, int y1) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) plane(x, y) = static_cast<uint8_t>(255 - plane(x, y));
  }
}

// Collects what is written to standard error while it lives.
class StandardErrorCapture {
 public:
  StandardErrorCapture() : saved_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~StandardErrorCapture() { std::cerr.rdbuf(saved_); }
  QString text() const { return QString::fromStdString(text_.str()); }

 private:
  std::ostringstream text_;
  std::streambuf* saved_;
};

}  // namespace

class FileHostTest : public QObject {
  Q_OBJECT

 private slots:
  void every_pngsuite_image_loads_with_its_pixels();
  void crashers_load_or_are_refused_and_stay_untouched();
  void every_format_qt_writes_loads_and_writes_back();
  void truncated_files_are_refused_untouched();
  void empty_and_foreign_files_are_refused();
  void oversized_headers_are_refused_before_decoding();
  void missing_file_is_a_white_image_written_on_refresh();
  void round_trip_keeps_pixels_alpha_and_a_backup();
  void paint_over_transparency_is_written_as_the_canvas_shows_it();
  void grey_file_stays_grey_until_painted_in_colour();
  void deep_file_keeps_its_depth_and_unpainted_pixels();
  void failed_write_leaves_the_old_file_whole();
  void planes_of_a_new_shape_resize_the_image();
  void output_path_is_written_instead_of_the_image();
  void paper_is_builtin_grain_or_a_file_as_luminance();
  void wallpaper_and_data_files();
  void form_object_is_shown_and_registry_creates_the_host();
  void a_file_saved_over_by_another_program_is_read_again();
  void a_change_by_another_program_is_not_overwritten_unasked();
  void a_failed_write_leaves_a_recovery_copy_of_every_pixel();
  void every_cut_and_damage_is_refused_or_loads_whole();
  void decoded_rows_split_into_planes_as_qt_converts_them();
  void handed_out_planes_follow_what_was_set();
  void lent_planes_are_written_only_when_painted();
  void initTestCase() {
    // Recovery copies go under the scratch folder, never into the user's state folder.
    qputenv("XDG_STATE_HOME", scratch_.filePath(QStringLiteral("state")).toUtf8());
  }

 private:
  QTemporaryDir scratch_;
  QString scratch_file(const QString& name) { return scratch_.filePath(name); }
};

// Every colour type and depth loads with the pixels the format defines, and a write-back that
// changes nothing leaves every pixel and the alpha as they were.
void FileHostTest::every_pngsuite_image_loads_with_its_pixels() {
  const QStringList files = png_files(shared_data(QStringLiteral("pngsuite")));
  if (files.isEmpty()) QSKIP("../shared/data/pngsuite is missing");
  for (const QString& path : files) {
    const QByteArray before = file_bytes(path);
    const auto reference = testing::decode_png_reference(before);
    QVERIFY2(reference, qPrintable(path));
    const QString copy = scratch_file(QFileInfo(path).fileName());
    write_bytes(copy, before);
    FileHost host(options_for(copy));
    QString mismatch;
    QVERIFY2(planes_match_reference(host, *reference, &mismatch),
             qPrintable(path + QStringLiteral(": ") + mismatch));
    host.wik_Refresh();
    const auto written = testing::decode_png_reference(file_bytes(copy));
    QVERIFY2(written, qPrintable(copy));
    QCOMPARE(written->has_alpha, reference->has_alpha);
    QVERIFY2(written->rgba == reference->rgba, qPrintable(path + QStringLiteral(" written back")));
    QCOMPARE(file_bytes(path), before);
  }
}

void FileHostTest::crashers_load_or_are_refused_and_stay_untouched() {
  const QStringList files = png_files(shared_data(QStringLiteral("pngcrashers")));
  if (files.isEmpty()) QSKIP("../shared/data/pngcrashers is missing");
  for (const QString& path : files) {
    const QByteArray before = file_bytes(path);
    std::unique_ptr<FileHost> host;
    const QString error = error_of([&] { host = std::make_unique<FileHost>(options_for(path)); });
    if (host) {
      const auto reference = testing::decode_png_reference(before);
      QVERIFY2(reference, qPrintable(path + QStringLiteral(" loaded but is not a valid PNG")));
      QString mismatch;
      QVERIFY2(planes_match_reference(*host, *reference, &mismatch), qPrintable(path + mismatch));
    } else {
      QVERIFY2(error.startsWith(QStringLiteral("cannot read ") + QDir::toNativeSeparators(path) +
                                QStringLiteral(": ")),
               qPrintable(error));
    }
    QCOMPARE(file_bytes(path), before);
    QVERIFY(!QFile::exists(path + QLatin1Char('~')));
  }
}

// The host's planes against Qt's decode of a file in a format other than PNG.
void expect_planes_of(FileHost& host, const QString& path) {
  const QImage picture = QImage(path).convertToFormat(QImage::Format_RGB888);
  QCOMPARE(host.Wik_BufferWidth(), picture.width());
  QCOMPARE(host.Wik_BufferHeight(), picture.height());
  const Plane red = host.Wik_GetRBuffer(), blue = host.Wik_GetBBuffer();
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      QCOMPARE(red(x, y), uint8_t(qRed(picture.pixel(x, y))));
      QCOMPARE(blue(x, y), uint8_t(qBlue(picture.pixel(x, y))));
    }
  }
}

void FileHostTest::every_format_qt_writes_loads_and_writes_back() {
  const QImage colour = test_picture(33, 21, QImage::Format_RGB32);
  for (const QByteArray& format : QImageWriter::supportedImageFormats()) {
    const QString path = scratch_file(QStringLiteral("formats.") + QString::fromLatin1(format));
    QVERIFY2(colour.save(path, format.constData()), format.constData());
    // A format whose reader cannot tell the image's size before decoding it (icns) is refused:
    // the size must be checked against the limits first.
    if (!QImageReader(path).size().isValid()) continue;
    StandardErrorCapture quiet;  // lossy formats say that they keep the original
    FileHost host(options_for(path));
    expect_planes_of(host, path);
    const QByteArray before = file_bytes(path);
    Plane red = host.Wik_GetRBuffer();
    red(4, 4) = static_cast<uint8_t>(red(4, 4) ^ 0x80);
    host.Wik_SaveUndo();
    host.Wik_SetRbuffer(red);
    host.wik_Refresh();
    QCOMPARE(file_bytes(path + QLatin1Char('~')), before);
    QCOMPARE(QImageReader(path).format(), QImageReader(path + QLatin1Char('~')).format());
    FileHost reloaded(options_for(path));  // written back in its own format, readable again
    QCOMPARE(reloaded.Wik_BufferWidth(), 33);
  }
}

void FileHostTest::truncated_files_are_refused_untouched() {
  const QImage picture = test_picture(64, 48, QImage::Format_RGB32);
  for (const char* format : {"png", "jpeg", "gif", "bmp", "ppm"}) {
    QByteArray whole;
    QBuffer buffer(&whole);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, format)) continue;  // gif: Qt cannot write it
    const QString path = scratch_file(QStringLiteral("cut.") + QLatin1String(format));
    write_bytes(path, whole.left(whole.size() * 2 / 3));
    const QString error = error_of([&] { FileHost host(options_for(path)); });
    QVERIFY2(error.startsWith(QStringLiteral("cannot read ") + QDir::toNativeSeparators(path)),
             qPrintable(QLatin1String(format) + QStringLiteral(": ") + error));
    QCOMPARE(file_bytes(path), whole.left(whole.size() * 2 / 3));
  }
  // A PNG that lacks only the last byte of its end chunk is refused too.
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "png");
  const QString path = scratch_file(QStringLiteral("no_end.png"));
  write_bytes(path, png.left(png.size() - 1));
  QVERIFY(
      error_of([&] { FileHost host(options_for(path)); }).contains(QStringLiteral("truncated")));
}

void FileHostTest::empty_and_foreign_files_are_refused() {
  const QString empty = scratch_file(QStringLiteral("empty.png"));
  write_bytes(empty, QByteArray());
  QCOMPARE(
      error_of([&] { FileHost host(options_for(empty)); }),
      QStringLiteral("cannot read %1: the file is empty").arg(QDir::toNativeSeparators(empty)));
  const QString text = scratch_file(QStringLiteral("notes.png"));
  write_bytes(text, "these are not pixels\n");
  QCOMPARE(error_of([&] { FileHost host(options_for(text)); }),
           QStringLiteral("cannot read %1: not a supported image file")
               .arg(QDir::toNativeSeparators(text)));
  QCOMPARE(file_bytes(text), QByteArray("these are not pixels\n"));
}

void FileHostTest::oversized_headers_are_refused_before_decoding() {
  const QString path = scratch_file(QStringLiteral("huge.png"));
  const QByteArray claim = png_claiming(100000, 100000);
  write_bytes(path, claim);
  try {
    FileHost host(options_for(path));
    QFAIL("a 100000 x 100000 image was accepted");
  } catch (const RuntimeError& error) {
    // The decoder would have complained of damaged data; the size is refused first.
    QCOMPARE(error.number(), error_number::kOutOfMemory);
    QVERIFY2(QString::fromStdString(error.description())
                 .contains(QStringLiteral("100000 x 100000 pixels is larger than 16384 x 16384")),
             error.what());
  }
  QCOMPARE(file_bytes(path), claim);
}

void FileHostTest::missing_file_is_a_white_image_written_on_refresh() {
  const QString path = scratch_file(QStringLiteral("new_picture"));
  FileHost host(options_for(path));
  QCOMPARE(host.Wik_BufferWidth(), 1024);
  QCOMPARE(host.Wik_BufferHeight(), 768);
  const Plane green = host.Wik_GetGBuffer();
  QCOMPARE(green(0, 0), uint8_t{255});
  QCOMPARE(green(1023, 767), uint8_t{255});
  QCOMPARE(green(1024, 767), uint8_t{0});  // the spare column
  host.Wik_SaveUndo();
  QVERIFY(!QFile::exists(path));
  QVERIFY(!QFile::exists(path + QLatin1Char('~')));
  host.wik_Refresh();
  QCOMPARE(QImageReader(path).format(), QByteArray("png"));  // no known suffix: PNG
  const QImage written(path);
  QCOMPARE(written.size(), QSize(1024, 768));
  QCOMPARE(written.pixel(512, 400), qRgb(255, 255, 255));

  const QString bmp = scratch_file(QStringLiteral("small.bmp"));
  FileHost small(options_for(bmp, QSize(10, 3)));
  small.wik_Refresh();
  QCOMPARE(QImageReader(bmp).format(), QByteArray("bmp"));
  QCOMPARE(QImage(bmp).size(), QSize(10, 3));

  const QString nowhere = scratch_file(QStringLiteral("no_such_folder/new.png"));
  QVERIFY(error_of([&] {
            FileHost host(options_for(nowhere));
          }).contains(QStringLiteral("there is no folder")));
}

void FileHostTest::round_trip_keeps_pixels_alpha_and_a_backup() {
  const QString path = scratch_file(QStringLiteral("round.png"));
  const QImage original = test_picture(40, 30, QImage::Format_ARGB32);
  QVERIFY(original.save(path));
  const QByteArray original_bytes = file_bytes(path);

  FileHost host(options_for(path));
  Plane red = host.Wik_GetRBuffer(), green = host.Wik_GetGBuffer(), blue = host.Wik_GetBBuffer();
  // Transparent pixels reach the canvas over white.
  const QRgb at = original.pixel(3, 7);
  QCOMPARE(int(red(3, 7)), (qRed(at) * qAlpha(at) + 255 * (255 - qAlpha(at)) + 127) / 255);
  const Plane handed_red = red.copy(), handed_blue = blue.copy();
  invert_box(red, 5, 5, 20, 12);
  invert_box(blue, 0, 0, 40, 1);
  host.Wik_SaveUndo();
  host.Wik_SetRbuffer(red);
  host.Wik_SetGbuffer(green);
  host.Wik_SetBbuffer(blue);
  host.wik_Refresh();
  QCOMPARE(file_bytes(path + QLatin1Char('~')), original_bytes);

  // Painted pixels become opaque in the canvas's colour; every other pixel keeps its exact colour
  // and alpha.
  const QImage written = QImage(path).convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const bool painted = red(x, y) != handed_red(x, y) || blue(x, y) != handed_blue(x, y);
      const QRgb expected =
          painted ? qRgba(red(x, y), green(x, y), blue(x, y), 255) : original.pixel(x, y);
      QCOMPARE(written.pixel(x, y), expected);
    }
  }
  FileHost reloaded(options_for(path));
  QVERIFY(std::memcmp(reloaded.Wik_GetRBuffer().data(), red.data(), red.size()) == 0);

  // A send that changes nothing writes nothing, and the backup keeps the original.
  const QByteArray first_write = file_bytes(path);
  host.Wik_SaveUndo();
  host.Wik_SetRbuffer(red);
  host.wik_Refresh();
  QCOMPARE(file_bytes(path), first_write);
  QCOMPARE(file_bytes(path + QLatin1Char('~')), original_bytes);
}

// A stroke painted by the renderer on an RGBA file, half of it over full transparency and half over
// a half-transparent photo: composited over white, the written file is what the canvas showed,
// the edge over transparency has the paint's own colour, and every unpainted pixel is as it was.
void FileHostTest::paint_over_transparency_is_written_as_the_canvas_shows_it() {
  const QString path = scratch_file(QStringLiteral("layer.png"));
  QImage original(40, 20, QImage::Format_ARGB32);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x)
      original.setPixel(x, y, x < 20 ? qRgba(0, 0, 0, 0) : qRgba(30 + x, 90, 200 - y, 128));
  QVERIFY(original.save(path));
  FileHost host(options_for(path));
  CanvasBuffers canvas;
  allocate_planes(canvas, 40, 20);
  take_host_planes(host, canvas);
  copy_to_previews(canvas);
  QVERIFY(!canvas.layer.empty());
  for (int x = 0; x < 40; ++x)  // a soft horizontal band: rows 5..14, coverage rising to its middle
    for (int y = 5; y < 15; ++y)
      canvas.FXbuffer(x, y) = static_cast<uint8_t>(255 - 50 * std::abs(y - 10));
  const BrushTables tables = make_brush_tables();
  PaperTexture paper;
  // Default across the picture, then Multiply over the photo, with which it combines.
  for (int32_t mode : {0, 3}) {
    BrushSettings brush;
    brush.BrushSize = 0.0f;
    brush.ColorR = 220.0f;
    brush.ColorG = 30.0f;
    brush.ColorB = 60.0f;
    brush.BlendMode = mode;
    composite_box(canvas, {paper, brush, tables, 0.0f, kCommitFlag}, mode == 0 ? 0 : 20, 0, 39, 19);
  }
  host.Wik_SaveUndo();
  host.Wik_SetRbuffer(canvas.RBuffer);
  host.Wik_SetGbuffer(canvas.GBuffer);
  host.Wik_SetBbuffer(canvas.BBuffer);
  host.set_layer_planes(canvas.layer);
  host.wik_Refresh();

  const QImage written = QImage(path).convertToFormat(QImage::Format_ARGB32);
  const Plane* shown[3] = {&canvas.RBuffer, &canvas.GBuffer, &canvas.BBuffer};
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 40; ++x) {
      const QRgb pixel = written.pixel(x, y);
      const int channels[3] = {qRed(pixel), qGreen(pixel), qBlue(pixel)};
      for (int c = 0; c < 3; ++c) {
        const int over = over_white(static_cast<uint8_t>(channels[c]), qAlpha(pixel));
        QVERIFY2(std::abs(over - (*shown[c])(x, y)) <= 1,
                 qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
      }
      if (y < 5 || y >= 15) QCOMPARE(pixel, original.pixel(x, y));
    }
  }
  // The band's edge over transparency: the paint's own colour at the coverage's alpha.
  QCOMPARE(written.pixel(3, 6), qRgba(220, 30, 60, 55));
  QCOMPARE(written.pixel(3, 10), qRgba(220, 30, 60, 255));
  QVERIFY(written.pixel(30, 6) != original.pixel(30, 6));
}

void FileHostTest::grey_file_stays_grey_until_painted_in_colour() {
  const QString path = scratch_file(QStringLiteral("grey.png"));
  QVERIFY(test_picture(16, 16, QImage::Format_RGB32)
              .convertToFormat(QImage::Format_Grayscale8)
              .save(path));
  FileHost host(options_for(path));
  host.wik_Refresh();
  QCOMPARE(QImage(path).format(), QImage::Format_Grayscale8);
  Plane red = host.Wik_GetRBuffer();
  red(3, 3) = static_cast<uint8_t>(red(3, 3) ^ 0x80);
  host.Wik_SetRbuffer(red);
  host.wik_Refresh();
  const QImage coloured(path);
  QVERIFY(!coloured.isGrayscale());
  QCOMPARE(qRed(coloured.pixel(3, 3)), int(red(3, 3)));
}

// A 16-bit file is written back at its depth: unpainted pixels exactly, painted ones as their 8-bit
// colour scaled. Closing without painting writes nothing, so neither the file nor PATH~ changes.
void FileHostTest::deep_file_keeps_its_depth_and_unpainted_pixels() {
  const QString path = scratch_file(QStringLiteral("deep.png"));
  QImage deep(8, 8, QImage::Format_RGBA64);
  deep.fill(QColor::fromRgba64(0x1234, 0x5678, 0x9abc, 0x8001));
  QVERIFY(deep.save(path));
  const QByteArray original = file_bytes(path);
  const QImage read_before(path);
  FileHost host(options_for(path));
  Plane red = host.Wik_GetRBuffer();
  for (int send = 0; send < 2; ++send) {
    host.Wik_SaveUndo();
    host.Wik_SetRbuffer(red);
    host.wik_Refresh();
  }
  QCOMPARE(file_bytes(path), original);
  QVERIFY(!QFile::exists(path + QLatin1Char('~')));

  red(2, 3) = 200;
  host.Wik_SaveUndo();
  host.Wik_SetRbuffer(red);
  host.wik_Refresh();
  QCOMPARE(file_bytes(path + QLatin1Char('~')), original);
  const QImage written(path);
  QCOMPARE(written.format(), read_before.format());
  QCOMPARE(written.depth(), 64);
  QCOMPARE(written.pixel(0, 0), read_before.pixel(0, 0));
  QVERIFY(std::memcmp(written.constScanLine(7), read_before.constScanLine(7), 8 * 8) == 0);
  const QRgba64 painted = written.pixelColor(2, 3).rgba64();
  QCOMPARE(painted.red(), quint16(200 * 257));
  QCOMPARE(painted.alpha(), quint16(0xffff));
}

void FileHostTest::failed_write_leaves_the_old_file_whole() {
  const QString path = scratch_file(QStringLiteral("kept.png"));
  QVERIFY(test_picture(20, 20, QImage::Format_RGB32).save(path));
  const QByteArray before = file_bytes(path);
  FailingCommitHost host(options_for(path));
  Plane red = host.Wik_GetRBuffer();
  red.fill(0);
  host.Wik_SetRbuffer(red);
  host.Wik_SaveUndo();
  const QString error = error_of([&] { host.wik_Refresh(); });
  QVERIFY2(error.startsWith(QStringLiteral("cannot write %1: No space left on device")
                                .arg(QDir::toNativeSeparators(path))),
           qPrintable(error));
  QCOMPARE(file_bytes(path), before);
  const QStringList left = QDir(scratch_.path()).entryList({QStringLiteral("kept*")}, QDir::Files);
  QCOMPARE(left, QStringList({QStringLiteral("kept.png")}));
}

void FileHostTest::planes_of_a_new_shape_resize_the_image() {
  const QString path = scratch_file(QStringLiteral("grow.png"));
  QVERIFY(test_picture(6, 4, QImage::Format_ARGB32).save(path));
  FileHost host(options_for(path));
  Plane wide(11, 5);  // a 10 x 4 image with its spare column and row
  wide.fill(9);
  host.Wik_SetRbuffer(wide);
  QVERIFY(error_of([&] { host.wik_Refresh(); }).contains(QStringLiteral("differ in size")));
  host.Wik_SetRbuffer(wide);
  host.Wik_SetGbuffer(wide);
  host.Wik_SetBbuffer(wide);
  host.wik_Refresh();
  QCOMPARE(host.Wik_BufferWidth(), 10);
  const QImage written = QImage(path).convertToFormat(QImage::Format_ARGB32);
  QCOMPARE(written.size(), QSize(10, 4));
  QCOMPARE(qAlpha(written.pixel(9, 3)), 255);  // the alpha is extended opaque
  QVERIFY(!error_of([&] { host.Wik_SetGbuffer(Plane(1, 1)); }).isEmpty());
}

void FileHostTest::output_path_is_written_instead_of_the_image() {
  const QString source = scratch_file(QStringLiteral("source.bmp"));
  QVERIFY(test_picture(8, 6, QImage::Format_RGB32).save(source));
  const QByteArray source_bytes = file_bytes(source);
  FileHostOptions options = options_for(source);
  options.output_path = scratch_file(QStringLiteral("result.png"));
  FileHost host(options);
  host.Wik_SaveUndo();
  host.wik_Refresh();
  QCOMPARE(QImageReader(options.output_path).format(), QByteArray("png"));  // by its suffix
  QCOMPARE(QImage(options.output_path).convertToFormat(QImage::Format_RGB32),
           QImage(source).convertToFormat(QImage::Format_RGB32));
  const QByteArray first = file_bytes(options.output_path);
  Plane red = host.Wik_GetRBuffer();
  red(1, 1) = static_cast<uint8_t>(red(1, 1) ^ 0xff);
  host.Wik_SaveUndo();
  host.Wik_SetRbuffer(red);
  host.wik_Refresh();
  QCOMPARE(file_bytes(options.output_path + QLatin1Char('~')), first);
  QCOMPARE(file_bytes(source), source_bytes);
  QVERIFY(!QFile::exists(source + QLatin1Char('~')));
}

void FileHostTest::paper_is_builtin_grain_or_a_file_as_luminance() {
  const QString image = scratch_file(QStringLiteral("paper_host.png"));
  FileHost builtin(options_for(image, QSize(4, 4)));
  QCOMPARE(builtin.Wik_GetPaperWidth(), kPaperGrainSize);
  QCOMPARE(builtin.wik_GetPaperHeight(), kPaperGrainSize);
  const Plane grain = make_paper_grain(kPaperGrainSize, kPaperGrainSize, kPaperGrainSeed);
  QVERIFY(std::memcmp(builtin.Wik_GetPaper().data(), grain.data(), grain.size()) == 0);

  const QString paper = scratch_file(QStringLiteral("paper.png"));
  QImage colours(3, 2, QImage::Format_RGB32);
  colours.fill(qRgb(255, 0, 0));
  colours.setPixel(2, 1, qRgb(0, 0, 255));
  QVERIFY(colours.save(paper));
  FileHost from_file(with_paper(options_for(image, QSize(4, 4)), paper));
  QCOMPARE(from_file.Wik_GetPaperWidth(), 3);
  QCOMPARE(from_file.wik_GetPaperHeight(), 2);
  const Plane texture = from_file.Wik_GetPaper();
  QCOMPARE(texture.columns(), 3);
  QCOMPARE(texture.rows(), 2);
  QCOMPARE(int(texture(0, 0)), 76);  // 0.299 x 255
  QCOMPARE(int(texture(2, 1)), 29);  // 0.114 x 255
  // Asking for the width reads an edited paper file again.
  QVERIFY(QImage(5, 5, QImage::Format_Grayscale8).save(paper));
  QCOMPARE(from_file.Wik_GetPaperWidth(), 5);

  FileHost missing(
      with_paper(options_for(image, QSize(4, 4)), scratch_file(QStringLiteral("no_paper.png"))));
  QVERIFY(error_of([&] { missing.Wik_GetPaperWidth(); }).contains(QStringLiteral("no such file")));
}

void FileHostTest::wallpaper_and_data_files() {
  const QString image = scratch_file(QStringLiteral("wall_host.png"));
  FileHostOptions options = options_for(image, QSize(4, 4));
  options.wallpaper_path = QStringLiteral("/somewhere/tile.png");
  FileHost chosen(options);
  QCOMPARE(chosen.Wik_WallpaperFilename(), std::string("/somewhere/tile.png"));

  FileHost builtin(options_for(image, QSize(4, 4)));
  const QString wallpaper = QString::fromStdString(builtin.Wik_WallpaperFilename());
  QVERIFY2(wallpaper.endsWith(QStringLiteral("/wallpaper.png")), qPrintable(wallpaper));
  QVERIFY(!QImage(wallpaper).isNull());

  // $TARVO_DATA_DIR comes first.
  QTemporaryDir override_dir;
  write_bytes(override_dir.filePath(QStringLiteral("wallpaper.png")), file_bytes(wallpaper));
  qputenv("TARVO_DATA_DIR", override_dir.path().toLocal8Bit());
  QCOMPARE(tarvo_data_file(QStringLiteral("wallpaper.png")),
           QDir::cleanPath(override_dir.filePath(QStringLiteral("wallpaper.png"))));
  qunsetenv("TARVO_DATA_DIR");
  QCOMPARE(tarvo_data_file(QStringLiteral("wallpaper.png")), wallpaper);
  QVERIFY(tarvo_data_file(QStringLiteral("no_such_data_file.png")).isEmpty());
}

void FileHostTest::form_object_is_shown_and_registry_creates_the_host() {
  const QString path = scratch_file(QStringLiteral("registered.png"));
  QVERIFY(test_picture(7, 5, QImage::Format_RGB32).save(path));
  HostRegistry registry;
  register_file_host(registry, options_for(path));
  const std::unique_ptr<Host> host = registry.create(kHostProgId);
  QCOMPARE(host->Wik_BufferWidth(), 7);
  QCOMPARE(host->Wik_BufferHeight(), 5);
  testing::FakeCanvasWindow form(10, 10);
  host->Wik_SendFormObject(form, 0);
  QCOMPARE(form.shown, 1);
}

QTEST_MAIN(FileHostTest)
#include "qt_file_host_test.moc"

void FileHostTest::a_file_saved_over_by_another_program_is_read_again() {
  const QString path = scratch_file(QStringLiteral("shared.png"));
  QVERIFY(test_picture(20, 10, QImage::Format_RGB32).save(path));
  FileHost host(options_for(path));
  QCOMPARE(host.Wik_BufferWidth(), 20);
  // Another program saves a bigger picture over the file; its time stamp moves on.
  QTest::qWait(20);
  QImage bigger(30, 12, QImage::Format_RGB32);
  bigger.fill(qRgb(9, 8, 7));
  QVERIFY(bigger.save(path));
  QCOMPARE(host.Wik_BufferWidth(), 30);
  QCOMPARE(host.Wik_BufferHeight(), 12);
  const Plane red = host.Wik_GetRBuffer();
  QCOMPARE(red.columns(), 31);
  QCOMPARE(red(29, 11), uint8_t{9});
  QCOMPARE(host.Wik_GetBBuffer()(0, 0), uint8_t{7});
}

// Another program's change is never overwritten without a question: with no one to ask, the write
// is refused and the other program's file stays, whether or not its size changed.
void FileHostTest::a_change_by_another_program_is_not_overwritten_unasked() {
  const QString path = scratch_file(QStringLiteral("theirs.png"));
  QVERIFY(test_picture(12, 8, QImage::Format_RGB32).save(path));
  FileHost host(options_for(path));
  Plane red = host.Wik_GetRBuffer();
  red(1, 1) = static_cast<uint8_t>(red(1, 1) ^ 0xff);
  QImage theirs = test_picture(12, 8, QImage::Format_RGB32);
  theirs.setPixel(5, 5, qRgb(1, 2, 3));  // same size, other content
  QVERIFY(theirs.save(path));
  const QByteArray their_bytes = file_bytes(path);
  host.Wik_SaveUndo();
  host.Wik_SetRbuffer(red);
  bool refused = false;
  try {
    host.wik_Refresh();
  } catch (const ImageNotWritten& error) {
    refused =
        QString::fromStdString(error.description()).contains(QStringLiteral("another program"));
  }
  QVERIFY(refused);
  QCOMPARE(file_bytes(path), their_bytes);
  QVERIFY(!QFile::exists(path + QLatin1Char('~')));
}

void FileHostTest::a_failed_write_leaves_a_recovery_copy_of_every_pixel() {
  const QString path = scratch_file(QStringLiteral("unlucky.png"));
  QVERIFY(test_picture(16, 9, QImage::Format_RGB32).save(path));
  FailingCommitHost host(options_for(path));
  Plane red = host.Wik_GetRBuffer();
  invert_box(red, 2, 2, 10, 6);
  host.Wik_SetRbuffer(red);
  const Plane green = host.Wik_GetGBuffer(), blue = host.Wik_GetBBuffer();
  QVERIFY(!error_of([&] { host.wik_Refresh(); }).isEmpty());
  const QDir recovery(scratch_file(QStringLiteral("state/tarvo/recovery")));
  const QStringList copies = recovery.entryList({QStringLiteral("unlucky-*.png")}, QDir::Files);
  QCOMPARE(copies.size(), 1);
  const QImage copy =
      QImage(recovery.filePath(copies.first())).convertToFormat(QImage::Format_RGB888);
  QCOMPARE(copy.size(), QSize(16, 9));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 16; ++x) {
      const QRgb c = copy.pixel(x, y);
      QCOMPARE(qRed(c), int(red(x, y)));
      QCOMPARE(qGreen(c), int(green(x, y)));
      QCOMPARE(qBlue(c), int(blue(x, y)));
    }
}

// Files cut at every 64th byte, and damaged in their data, either load with the picture's size or
// are refused; none is changed. A name that Qt reads as a high-resolution variant loads as it is.
void FileHostTest::every_cut_and_damage_is_refused_or_loads_whole() {
  const QImage picture = test_picture(40, 30, QImage::Format_RGB32);
  int tried = 0;
  for (const char* format : {"png", "jpeg", "bmp"}) {
    QByteArray whole;
    QBuffer buffer(&whole);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, format));
    const QString path = scratch_file(QStringLiteral("bad.") + QLatin1String(format));
    std::vector<QByteArray> inputs;
    for (int cut = 0; cut < whole.size(); cut += 64) inputs.push_back(whole.left(cut));
    for (int at = whole.size() / 3; at < whole.size(); at += whole.size() / 7) {
      QByteArray damaged = whole;
      for (int i = at; i < std::min<int>(at + 16, damaged.size()); ++i)
        damaged[i] = char(damaged[i] ^ 0x5A);
      inputs.push_back(damaged);
    }
    for (const QByteArray& input : inputs) {
      write_bytes(path, input);
      try {
        FileHost host(options_for(path));
        QCOMPARE(host.Wik_BufferWidth(), 40);
        QCOMPARE(host.Wik_BufferHeight(), 30);
      } catch (const RuntimeError& error) {
        QVERIFY2(
            QString::fromStdString(error.description()).startsWith(QStringLiteral("cannot read")),
            error.what());
      }
      QCOMPARE(file_bytes(path), input);
      ++tried;
    }
  }
  QVERIFY(tried > 20);
  const QString retina = scratch_file(QStringLiteral("icon@2x.png"));
  QVERIFY(picture.save(retina));
  FileHost host(options_for(retina));
  QCOMPARE(host.Wik_BufferWidth(), 40);
}

// The planes, and the copy made beside them, hold what Qt's own conversion to 8-bit RGB or RGBA
// gives: for the formats split straight from the decoder's rows and for those Qt converts first
// (palette, 16-bit), at sizes that are split by one thread and by two, with odd widths (a plain
// PNG is decoded a row at a time, its rows unfiltered as libpng's default filters left them), and
// for a JPEG that its orientation turns on its side (the planes prepared from its header do not
// fit).
void FileHostTest::decoded_rows_split_into_planes_as_qt_converts_them() {
  struct Case {
    QImage::Format format;
    const char* file_format;
  };
  const Case cases[] = {{QImage::Format_RGB32, "png"},      {QImage::Format_ARGB32, "png"},
                        {QImage::Format_Grayscale8, "png"}, {QImage::Format_Indexed8, "png"},
                        {QImage::Format_RGBA64, "png"},     {QImage::Format_RGB32, "jpeg"},
                        {QImage::Format_Grayscale8, "bmp"}};
  // The last is more rows than a plain PNG's decoder holds between its two threads.
  const QSize sizes[] = {QSize(1, 1), QSize(37, 5), QSize(1031, 1029), QSize(1031, 1601)};
  for (const Case& c : cases) {
    for (const QSize size : sizes) {
      QImage picture = test_picture(size.width(), size.height(), QImage::Format_ARGB32);
      picture = c.format == QImage::Format_Indexed8
                    ? picture.convertToFormat(c.format, Qt::ThresholdDither)
                    : picture.convertToFormat(c.format);
      const QString path = scratch_file(QStringLiteral("split.") + QLatin1String(c.file_format));
      QVERIFY(picture.save(path, c.file_format));
      const QImage expected = qt_pixels(path);
      const ImageFile file =
          read_image_file(path, machine_image_limits(), PlaneCopy::kColourPlanes);
      const QString what = QStringLiteral("%1 %2 x %3 from format %4: ")
                               .arg(QLatin1String(c.file_format))
                               .arg(size.width())
                               .arg(size.height())
                               .arg(int(c.format));
      QCOMPARE(file.image.alpha.empty(), !expected.hasAlphaChannel());
      QString mismatch;
      const HostImage& image = file.image;
      QVERIFY2(planes_hold(expected, image.red, image.green, image.blue,
                           image.alpha.empty() ? nullptr : &image.alpha, &mismatch),
               qPrintable(what + mismatch));
      const QImage colour = expected.convertToFormat(QImage::Format_RGB888);
      QVERIFY2(
          planes_hold(colour, file.copy.red, file.copy.green, file.copy.blue, nullptr, &mismatch),
          qPrintable(what + QStringLiteral("copy: ") + mismatch));
      QVERIFY(file.copy.alpha.empty());
      QVERIFY(read_image_file(path, machine_image_limits()).copy.red.empty());  // not asked for
      // Planes to be lent: a plain PNG's row digests are taken as it decodes, the same as taken
      // from its planes.
      const ImageFile lent = read_image_file(path, machine_image_limits(), PlaneCopy::kLent);
      const bool plain_png =
          qstrcmp(c.file_format, "png") == 0 &&
          (c.format == QImage::Format_RGB32 || c.format == QImage::Format_ARGB32 ||
           c.format == QImage::Format_Grayscale8);
      QCOMPARE(!lent.digests[0].empty(), plain_png && lent.image.alpha.empty());
      if (!lent.digests[0].empty()) {
        QVERIFY(lent.digests[0] == row_digests(lent.image.red, nullptr));
        QVERIFY(lent.digests[2] == row_digests(lent.image.blue, nullptr));
      }
    }
  }
  const QString turned = scratch_file(QStringLiteral("turned.jpg"));
  QImageWriter writer(turned, "jpeg");
  writer.setTransformation(QImageIOHandler::TransformationRotate90);
  QVERIFY(writer.write(test_picture(31, 20, QImage::Format_RGB32)));
  FileHost host(options_for(turned));
  QCOMPARE(host.Wik_BufferWidth(), 20);
  QCOMPARE(host.Wik_BufferHeight(), 31);
  QString mismatch;
  const Plane red = host.Wik_GetRBuffer(), green = host.Wik_GetGBuffer(),
              blue = host.Wik_GetBBuffer();
  QVERIFY2(planes_hold(qt_pixels(turned), red, green, blue, nullptr, &mismatch),
           qPrintable(mismatch));
}

// The planes the host hands out are its image as it is now: copies made when the file was read
// are handed out once each, and never once a plane has been set.
void FileHostTest::handed_out_planes_follow_what_was_set() {
  const QString path = scratch_file(QStringLiteral("handed.png"));
  QVERIFY(test_picture(1031, 1029, QImage::Format_RGB32).save(path));
  const QImage expected = qt_pixels(path);
  QString mismatch;
  {
    FileHost host(options_for(path));
    for (int round = 0; round < 2; ++round) {  // the ready copies, then copies of the image
      const Plane red = host.Wik_GetRBuffer(), green = host.Wik_GetGBuffer(),
                  blue = host.Wik_GetBBuffer();
      QVERIFY2(planes_hold(expected, red, green, blue, nullptr, &mismatch),
               qPrintable(QStringLiteral("round %1: ").arg(round) + mismatch));
    }
  }
  FileHost host(options_for(path));
  Plane painted(1032, 1030);
  painted.fill(7);
  host.Wik_SetGbuffer(painted);  // before any plane was taken
  host.wik_Refresh();
  QCOMPARE(host.Wik_GetGBuffer()(500, 600), uint8_t{7});
  QCOMPARE(host.Wik_GetGBuffer()(1030, 1028), uint8_t{7});
  const Plane red = host.Wik_GetRBuffer(), blue = host.Wik_GetBBuffer();
  QVERIFY2(planes_hold(expected, red, host.Wik_GetGBuffer(), blue, nullptr, &mismatch) == false,
           "the green plane set is not handed out");
  QCOMPARE(red(500, 600), uint8_t(qRed(expected.pixel(500, 600))));
  QCOMPARE(blue(1030, 1028), uint8_t(qBlue(expected.pixel(1030, 1028))));

  // The built-in paper grain, made on a helper thread while the file decoded, is the grain.
  const Plane grain = make_paper_grain(kPaperGrainSize, kPaperGrainSize, kPaperGrainSeed);
  QCOMPARE(host.Wik_GetPaperWidth(), kPaperGrainSize);
  QVERIFY(std::memcmp(host.Wik_GetPaper().data(), grain.data(), grain.size()) == 0);
}

// An 8-bit file without alpha hands its planes over whole, the file standing in for the host's
// copy: a send that changes nothing writes nothing, one pixel painted in the last row is written
// with every other pixel as it was, and the image fetched again is the file as written.
void FileHostTest::lent_planes_are_written_only_when_painted() {
  const QString path = scratch_file(QStringLiteral("lent.png"));
  QVERIFY(test_picture(301, 203, QImage::Format_RGB32).save(path));
  const QImage original = qt_pixels(path);
  const QByteArray read = file_bytes(path);
  FileHost host(options_for(path));
  Plane red = host.Wik_GetRBuffer(), green = host.Wik_GetGBuffer(), blue = host.Wik_GetBBuffer();
  const auto send = [&] {
    host.Wik_SaveUndo();
    host.Wik_SetRbuffer(red);
    host.Wik_SetGbuffer(green);
    host.Wik_SetBbuffer(blue);
    host.wik_Refresh();
  };
  send();
  QCOMPARE(file_bytes(path), read);
  green(300, 202) = static_cast<uint8_t>(green(300, 202) ^ 1);
  send();
  const QImage written = qt_pixels(path);
  for (int y = 0; y < 203; ++y) {
    for (int x = 0; x < 301; ++x) {
      const QRgb expected =
          x == 300 && y == 202 ? qRgb(red(x, y), green(x, y), blue(x, y)) : original.pixel(x, y);
      if (written.pixel(x, y) != expected)
        QFAIL(qPrintable(QStringLiteral("pixel %1, %2").arg(x).arg(y)));
    }
  }
  const QByteArray first_write = file_bytes(path);
  send();
  QCOMPARE(file_bytes(path), first_write);
  const Plane fetched = host.Wik_GetGBuffer();
  QVERIFY(std::memcmp(fetched.data(), green.data(), green.size()) == 0);

  // Lent, then the file gone: fetching again says so as a host that is gone does ("Get image"
  // then keeps the canvas's picture), instead of ending the program.
  FileHost again(options_for(path));
  red = again.Wik_GetRBuffer();
  QFile::remove(path);
  QVERIFY_THROWS_EXCEPTION(ImageNotWritten, again.Wik_GetRBuffer());
}
