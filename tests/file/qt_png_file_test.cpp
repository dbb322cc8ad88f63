// The file host's own PNG encoder against Qt's: for every colour type and depth the host writes,
// the file reads back as the one Qt's writer makes of the same picture, pixel for pixel, with the
// same ancillary chunks, whether its strips were deflated on one core or two.

#include "file/qt_png_file.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QtTest>

#include "canvas/row_split.h"

using namespace tarvo;

namespace {

// Taller than several strips of about a megabyte, and of an odd width.
constexpr int kWidth = 733, kHeight = 3001;

HostImage patterned(bool grey, bool with_alpha) {
  HostImage image = white_image(kWidth, kHeight);
  if (with_alpha) image.alpha = Plane(kWidth + 1, kHeight + 1);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const auto level = static_cast<uint8_t>((x * 3 + y * 7 + (x * y) % 11) & 255);
      image.red(x, y) = level;
      image.green(x, y) = grey ? level : static_cast<uint8_t>(level ^ y);
      image.blue(x, y) = grey ? level : static_cast<uint8_t>(x + (y >> 3));
      if (with_alpha) image.alpha(x, y) = static_cast<uint8_t>(x ^ (y * 5));
    }
  }
  return image;
}

QImage deep_of(const HostImage& image) {
  QImage deep(kWidth, kHeight, QImage::Format_RGBA64);
  for (int y = 0; y < kHeight; ++y) {
    auto* line = reinterpret_cast<QRgba64*>(deep.scanLine(y));
    for (int x = 0; x < kWidth; ++x) {
      const auto low = static_cast<uint16_t>((x * 37 + y) & 255);  // below the 8-bit level
      line[x] = QRgba64::fromRgba64(image.red(x, y) * 256 + low, image.green(x, y) * 256 + low,
                                    image.blue(x, y) * 256 + low,
                                    image.alpha.empty() ? 65535 : image.alpha(x, y) * 257);
    }
  }
  return deep;
}

QList<QByteArray> ancillary_chunks(const QByteArray& file) {
  QList<QByteArray> chunks;
  for (qsizetype at = 8; at + 12 <= file.size();) {
    const auto* bytes = reinterpret_cast<const uchar*>(file.constData() + at);
    const qsizetype length = qsizetype{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    const QByteArray type = file.mid(at + 4, 4);
    if (type != "IDAT") chunks << (type == "IHDR" ? file.mid(at, 12 + length) : type);
    at += 12 + length;
  }
  return chunks;
}

QImage read_back(QByteArray file) {
  QBuffer buffer(&file);
  buffer.open(QIODevice::ReadOnly);
  return QImageReader(&buffer, "png").read();
}

}  // namespace

class PngFileTest : public QObject {
  Q_OBJECT

 private slots:
  void everyKindReadsBackAsQtsOwnFile_data() {
    QTest::addColumn<bool>("grey");
    QTest::addColumn<bool>("with_alpha");
    QTest::addColumn<bool>("deep");
    for (const bool deep : {false, true}) {
      const char* depth = deep ? "16-bit " : "8-bit ";
      QTest::newRow((std::string(depth) + "RGB").c_str()) << false << false << deep;
      QTest::newRow((std::string(depth) + "RGBA").c_str()) << false << true << deep;
      QTest::newRow((std::string(depth) + "grey").c_str()) << true << false << deep;
    }
  }

  void everyKindReadsBackAsQtsOwnFile() {
    QFETCH(bool, grey);
    QFETCH(bool, with_alpha);
    QFETCH(bool, deep);
    const HostImage image = patterned(grey, with_alpha);
    const QImage exact = deep ? deep_of(image) : QImage();
    ImageFileTraits traits;
    traits.grey = grey;
    traits.colour_space = QColorSpace::SRgb;
    traits.text = {{QStringLiteral("Title"), QStringLiteral("harbour")},
                   {QStringLiteral("Comment"), QString(80, QLatin1Char('w'))}};
    traits.dots_per_metre_x = traits.dots_per_metre_y = 11811;

    const QImage picture =
        deep ? compose_deep_picture(exact, with_alpha, traits) : compose_picture(image, traits);
    QByteArray qt_file;
    {
      QBuffer buffer(&qt_file);
      buffer.open(QIODevice::WriteOnly);
      QVERIFY(encode_picture(picture, "png", false, buffer).isEmpty());
    }
    const QImage expected = read_back(qt_file);
    RowHelper helper;
    for (RowHelper* sharing : {static_cast<RowHelper*>(nullptr), &helper}) {
      double last_progress = 0;
      const QByteArray ours = encode_png_file(image, exact, traits, sharing, [&](double done) {
        QVERIFY(done >= last_progress);
        last_progress = done;
      });
      QCOMPARE(last_progress, 1.0);
      QCOMPARE(ancillary_chunks(ours), ancillary_chunks(qt_file));
      const QImage read = read_back(ours);
      QCOMPARE(read.format(), expected.format());
      QVERIFY(read == expected);
      QCOMPARE(read.textKeys(), expected.textKeys());
      QCOMPARE(read.text(QStringLiteral("Comment")), expected.text(QStringLiteral("Comment")));
      QCOMPARE(read.colorSpace(), expected.colorSpace());
    }
  }
};

QTEST_GUILESS_MAIN(PngFileTest)
#include "qt_png_file_test.moc"
