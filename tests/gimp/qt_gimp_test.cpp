// The GIMP plug-in in a real GIMP: one batch session of the GIMP it was built for
// (gimp-console-2.10 or gimp-console-3.0), with a temporary profile holding the freshly built
// plug-in, paints every case and saves the results; the checks then compare them with what the
// stand-alone program paints from the same files and scripts.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QColorSpace>
#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

namespace {

// Changes size, colour, preset and mode between strokes.
const char kScript[] =
    "Form_Resize 120 90\n"
    "Form_MouseDown 1 0 10 10\nForm_MouseMove 1 0 30 20\nForm_MouseMove 1 0 50 40\n"
    "Form_MouseMove 1 0 70 45\nForm_MouseUp 1 0 80 50\n"
    "HProp1 9\nHProp2 200\nkv_button7_MouseDown 1 0 5 5\nModeAdd_Click\n"
    "Form_MouseDown 1 0 100 10\nForm_MouseMove 1 0 80 30\nForm_MouseMove 1 0 60 60\n"
    "Form_MouseMove 1 0 30 80\nForm_MouseUp 1 0 20 85\n"
    "Form_Unload\n";
// One stroke in a colour of its own, in the Default mode.
const char kColourScript[] =
    "Form_Resize 120 90\nHProp1 12\nHProp2 200\nHProp3 40\nHProp4 90\n"
    "Form_MouseDown 1 0 10 20\nForm_MouseMove 1 0 40 35\nForm_MouseMove 1 0 70 50\n"
    "Form_MouseMove 1 0 95 60\nForm_MouseUp 1 0 110 70\n";
// A wide stroke through the paper texture.
const char kPaperScript[] =
    "Form_Resize 120 90\nHProp1 30\nHProp7 220\n"
    "Form_MouseDown 1 0 5 45\nForm_MouseMove 1 0 40 40\nForm_MouseMove 1 0 80 50\n"
    "Form_MouseMove 1 0 110 45\nForm_MouseUp 1 0 115 45\n";

QImage test_picture(QImage::Format format) {
  QImage picture(120, 90, format);
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const int alpha = format == QImage::Format_ARGB32 ? 40 + (x * 215) / 119 : 255;
      picture.setPixelColor(x, y, QColor(x * 2, 60 + y, 200 - x, alpha));
    }
  }
  return picture;
}

// 16-bit levels that 8 bits cannot hold.
QImage deep_picture() {
  QImage picture(120, 90, QImage::Format_RGBX64);
  for (int y = 0; y < picture.height(); ++y) {
    auto* line = reinterpret_cast<QRgba64*>(picture.scanLine(y));
    for (int x = 0; x < picture.width(); ++x) {
      line[x] = QRgba64::fromRgba64(quint16(x * 523 + 7), quint16(y * 701 + 3),
                                    quint16(30000 + x * y), 65535);
    }
  }
  return picture;
}

#if TARVO_GIMP_VERSION == 3
constexpr char kGimpConsole[] = "gimp-console-3.0";
constexpr char kProfileVariable[] = "GIMP3_DIRECTORY";
constexpr char kImageFileSuffix[] = ".xcf";  // see open-png
// GIMP 3's Script-Fu: an image procedure takes its drawables as a vector.
const char kSchemeVersion[] = R"(
;; GIMP 3.0.4 in batch mode gives a loaded image no file, as its window would: one is set here
;; (GIMP takes only an XCF name), by which the plug-in names the image's lock.
(define (open-png name)
  (let ((image (car (gimp-file-load RUN-NONINTERACTIVE name))))
    (gimp-image-set-file image (string-append name ".xcf")) image))
(define (layer-of image) (vector-ref (car (gimp-image-get-selected-layers image)) 0))
(define (save image name) (gimp-file-save RUN-NONINTERACTIVE image name -1))
(define (run-tarvo image script)
  (plug-in-tarvo RUN-NONINTERACTIVE image (vector (layer-of image)) script))
(define (new-layer image width height) (car (gimp-layer-new image "p" width height RGB-IMAGE 100
                                                            LAYER-MODE-NORMAL)))
(define float-precision PRECISION-FLOAT-NON-LINEAR)
(define (run-tarvo-on image drawable script)
  (plug-in-tarvo RUN-NONINTERACTIVE image (vector drawable) script))
(define (new-group image) (car (gimp-group-layer-new image "g")))
(define (new-text image)
  (car (gimp-text-font image -1 5 5 "Tarvo" 0 TRUE 20 (car (gimp-context-get-font)))))
;; Two layers selected: the plug-in paints on one.
(define (two-layers-case in script out)
  (let* ((image (open-png in)) (layer (layer-of image))
         (other (new-layer image 120 90)))
    (gimp-image-insert-layer image other 0 -1)
    (if (catch #f (plug-in-tarvo RUN-NONINTERACTIVE image (vector layer other) script))
        (gimp-message "tarvo-case: painted")
        (gimp-message "tarvo-case: refused"))
    (gimp-image-remove-layer image other)
    (save image out)))
;; A layer with a non-destructive effect, which GIMP draws over what Tarvo paints.
(define (effect-case in script)
  (let* ((image (open-png in)) (layer (layer-of image))
         (filter (car (gimp-drawable-filter-new layer "gegl:pixelize" "Pixelize"))))
    (gimp-drawable-append-filter layer filter)
    (run-tarvo image script)))
)";
#else
constexpr char kGimpConsole[] = "gimp-console-2.10";
constexpr char kProfileVariable[] = "GIMP2_DIRECTORY";
constexpr char kImageFileSuffix[] = "";
const char kSchemeVersion[] = R"(
(define (open-png name) (car (file-png-load RUN-NONINTERACTIVE name name)))
(define (layer-of image) (car (gimp-image-get-active-drawable image)))
(define (save image name)
  (file-png-save2 RUN-NONINTERACTIVE image (layer-of image) name name 0 9 0 0 0 0 0 0 1))
(define (run-tarvo image script) (plug-in-tarvo RUN-NONINTERACTIVE image (layer-of image) script))
(define (new-layer image width height) (car (gimp-layer-new image width height RGB-IMAGE "p" 100
                                                            LAYER-MODE-NORMAL)))
(define float-precision PRECISION-FLOAT-GAMMA)
(define (run-tarvo-on image drawable script)
  (plug-in-tarvo RUN-NONINTERACTIVE image drawable script))
(define (new-group image) (car (gimp-layer-group-new image)))
(define (new-text image) (car (gimp-text-fontname image -1 5 5 "Tarvo" 0 TRUE 20 PIXELS "Sans")))
)";
#endif

// Scheme that paints one image and saves it, or saves it unpainted when the plug-in refuses.
const char kSchemeHelpers[] = R"(
(define (truth value) (if (number? value) (= value 1) value))
(define (paint image script)
  (if (catch #f (run-tarvo image script))
      (gimp-message "tarvo-case: painted")
      (gimp-message "tarvo-case: refused")))
(define (paint-case in script out) (let ((image (open-png in))) (paint image script) (save image out)))
;; The plug-in run on one drawable of the image: a group, a mask, a locked or a text layer. Says
;; whether it painted and whether the image is dirty after it.
(define (drawable-case name image drawable script)
  (gimp-image-clean-all image)
  (gimp-message (string-append "tarvo-case " name ": "
                               (if (catch #f (run-tarvo-on image drawable script))
                                   "painted" "refused")
                               (if (truth (car (gimp-image-is-dirty image))) ", dirty" ", clean"))))
)";

// A PNG as ImageMagick writes one by default, with gAMA and cHRM chunks (sRGB's values) after the
// header, which GIMP 3 turns into a colour profile of the image.
QByteArray with_gamma_chunks(const QByteArray& png) {
  const auto crc32 = [](const QByteArray& bytes) {
    quint32 crc = 0xffffffffu;
    for (const char byte : bytes) {
      crc ^= static_cast<quint8>(byte);
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
  };
  const auto big_endian = [](quint32 value) {
    QByteArray bytes(4, 0);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (24 - 8 * i));
    return bytes;
  };
  const auto chunk = [&](const char* type, const QList<quint32>& values) {
    QByteArray body(type);
    for (quint32 value : values) body += big_endian(value);
    return big_endian(body.size() - 4) + body + big_endian(crc32(body));
  };
  const int after_header = 8 + 4 + 4 + 13 + 4;
  return png.left(after_header) + chunk("gAMA", {45455}) +
         chunk("cHRM", {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000}) +
         png.mid(after_header);
}

// Where two pictures of one size first differ, as "x,y: #aarrggbb #aarrggbb"; empty when alike.
QString first_difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return QStringLiteral("the sizes differ");
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) {
        return QStringLiteral("%1,%2: #%3 #%4")
            .arg(x)
            .arg(y)
            .arg(a.pixel(x, y), 8, 16, QLatin1Char('0'))
            .arg(b.pixel(x, y), 8, 16, QLatin1Char('0'));
      }
  return {};
}

class GimpPlugInTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString gimp_output_;
  QProcess holder_;  // stands for a canvas open on locked.png
  QString holder_pid_;
  QString path(const QString& name) const { return dir_.filePath(name); }

  QImage load(const QString& name) const {
    QImage image(path(name));
    if (image.isNull()) qWarning() << "cannot read" << name;
    return image;
  }

  // The file's pixels as 8-bit RGB, whatever colour profile GIMP wrote beside them.
  QImage rgb(const QString& name) const {
    QImage image = load(name).convertToFormat(QImage::Format_RGB888);
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
  }

  // The stand-alone program's replay of script on in, written to out.
  void replay(const QString& in, const QString& script, const QString& out,
              const QStringList& extra = {}) const {
    QProcess tarvo;
    tarvo.start(QStringLiteral(TARVO_EXECUTABLE),
                QStringList{path(in), QStringLiteral("--replay"), path(script),
                            QStringLiteral("--out"), path(out)} +
                    extra);
    QVERIFY(tarvo.waitForFinished(120000));
    QCOMPARE(tarvo.exitCode(), 0);
  }

  void write(const QString& name, const QByteArray& text) const {
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
  }

  // The lock file of the canvas on an image, named as the plug-in names it.
  QString lock_path(const QString& image) const {
    const QString file = path(image) + QString::fromLatin1(kImageFileSuffix);
    const QString key =
        QFileInfo(file).completeBaseName() + QStringLiteral("-gimp-") +
        QString::fromLatin1(
            QCryptographicHash::hash(file.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    return path(QStringLiteral("state/tarvo/recovery/%1.lock").arg(key));
  }

  void write_lock(const QString& image, const QString& pid) const {
    QVERIFY(QDir().mkpath(path(QStringLiteral("state/tarvo/recovery"))));
    QFile file(lock_path(image));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        (pid + QStringLiteral("\nthe Tarvo canvas on \"locked.png\" (process %1)\n").arg(pid))
            .toUtf8());
  }

  // locked.png has a canvas open on it: a running process holds its lock (flock(1) stands for
  // it). stale.png's lock file names a process that has ended, and no one holds it.
  void lock_images() {
    holder_pid_ = QStringLiteral("4242");
    write_lock(QStringLiteral("locked.png"), holder_pid_);
    const QString lock = lock_path(QStringLiteral("locked.png"));
    holder_.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), lock,
                                            QStringLiteral("sleep"), QStringLiteral("600")});
    QVERIFY(holder_.waitForStarted());
    // Until flock holds the lock, the plug-in would take it.
    for (int i = 0; i < 100 && !lock_is_held(lock); ++i) QTest::qWait(20);
    QVERIFY(lock_is_held(lock));
    write_lock(QStringLiteral("stale.png"), QStringLiteral("4243"));
  }

  static bool lock_is_held(const QString& lock) {
    const int fd = ::open(QFile::encodeName(lock).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
  }

 private slots:
  void initTestCase() {
    const QString gimp = QStandardPaths::findExecutable(QString::fromLatin1(kGimpConsole));
    if (gimp.isEmpty()) {
      QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/setup, or scripts/debian13 for "
                                      "GIMP 3, installs it)")
                           .arg(QString::fromLatin1(kGimpConsole))));
    }
    QVERIFY(dir_.isValid());
    const QString plug_ins = path(QStringLiteral("profile/plug-ins/tarvo-gimp"));
    QVERIFY(QDir().mkpath(plug_ins));
    QVERIFY(
        QFile::copy(QStringLiteral(TARVO_GIMP_PLUGIN), plug_ins + QStringLiteral("/tarvo-gimp")));

    QVERIFY(test_picture(QImage::Format_RGB888).save(path(QStringLiteral("rgb.png"))));
    QVERIFY(test_picture(QImage::Format_ARGB32).save(path(QStringLiteral("rgba.png"))));
    QVERIFY(deep_picture().save(path(QStringLiteral("deep.png"))));
    QVERIFY(test_picture(QImage::Format_RGB888)
                .convertToFormat(QImage::Format_Grayscale8)
                .save(path(QStringLiteral("grey.png"))));
    QVERIFY(test_picture(QImage::Format_RGB888)
                .convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither)
                .save(path(QStringLiteral("indexed.png"))));
    write(QStringLiteral("s.tvs"), kScript);
    write(QStringLiteral("colour.tvs"), kColourScript);
    QImage clear(120, 90, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    QVERIFY(clear.save(path(QStringLiteral("transparent.png"))));
    QImage white(120, 90, QImage::Format_RGB888);
    white.fill(Qt::white);
    QVERIFY(white.save(path(QStringLiteral("white.png"))));
    write(QStringLiteral("paper.tvs"), kPaperScript);
    write(QStringLiteral("clear.tvs"), "kv_button2_Click\n");  // every pixel changes
    write(QStringLiteral("bad.tvs"), "Form_Resize 120 90\nForm_MouseDown 1 0 10\n");
    write(QStringLiteral("nothing.tvs"), "Form_Resize 120 90\nkv_button4_Click\nForm_Unload\n");
    // Two strokes with a send between them, then a third in a run of its own.
    write(QStringLiteral("sends.tvs"),
          "Form_Resize 120 90\nForm_MouseDown 1 0 10 10\nForm_MouseMove 1 0 40 30\n"
          "Form_MouseMove 1 0 60 35\nForm_MouseUp 1 0 70 40\nkv_button4_Click\n"
          "Form_MouseDown 1 0 100 20\nForm_MouseMove 1 0 80 50\nForm_MouseMove 1 0 60 70\n"
          "Form_MouseUp 1 0 50 80\nForm_Unload\n");
    // Stroke A runs into the selection from outside it and is sent; a pick where A lay outside
    // the selection then takes the layer's colour there (A never reached the layer), for stroke B.
    write(QStringLiteral("pick.tvs"),
          "Form_Resize 120 90\nHProp1 6\nForm_MouseDown 1 0 10 30\nForm_MouseMove 1 0 40 32\n"
          "Form_MouseMove 1 0 60 34\nForm_MouseUp 1 0 70 35\nkv_button4_Click\n"
          "Form_KeyDown 188 0\nForm_MouseDown 1 0 15 31\nForm_MouseUp 1 0 15 31\n"
          "Form_KeyUp 188 0\nForm_MouseDown 1 0 35 45\nForm_MouseMove 1 0 45 48\n"
          "Form_MouseMove 1 0 55 52\nForm_MouseMove 1 0 65 55\nForm_MouseUp 1 0 75 56\n"
          "Form_Unload\n");
    write(QStringLiteral("picked.tvs"),
          "Form_Resize 120 90\nHProp1 6\nForm_MouseDown 1 0 10 30\nForm_MouseMove 1 0 40 32\n"
          "Form_MouseMove 1 0 60 34\nForm_MouseUp 1 0 70 35\nHProp2 30\nHProp3 91\nHProp4 185\n"
          "Form_MouseDown 1 0 35 45\nForm_MouseMove 1 0 45 48\nForm_MouseMove 1 0 55 52\n"
          "Form_MouseMove 1 0 65 55\nForm_MouseUp 1 0 75 56\nForm_Unload\n");
    write(QStringLiteral("more.tvs"),
          "Form_Resize 120 90\nHProp1 20\nForm_MouseDown 1 0 5 80\nForm_MouseMove 1 0 50 60\n"
          "Form_MouseMove 1 0 90 70\nForm_MouseUp 1 0 115 60\n");
    QImage fill(120, 90, QImage::Format_RGB888);
    fill.fill(QColor(200, 100, 37));
    QVERIFY(fill.save(path(QStringLiteral("fill.png"))));
    QFile plain(path(QStringLiteral("fill.png")));
    QVERIFY(plain.open(QIODevice::ReadOnly));
    write(QStringLiteral("gamma.png"), with_gamma_chunks(plain.readAll()));
    for (const char* copy : {"locked.png", "stale.png"}) {
      QVERIFY(QFile::copy(path(QStringLiteral("rgb.png")), path(QString::fromLatin1(copy))));
    }
    lock_images();

    QString scheme = QString::fromLatin1(kSchemeVersion) + QString::fromLatin1(kSchemeHelpers);
    const auto add_case = [&](const QString& in, const QString& script, const QString& out) {
      scheme += QStringLiteral("(paint-case \"%1\" \"%2\" \"%3\")\n")
                    .arg(path(in), script.isEmpty() ? QString() : path(script), path(out));
    };
    add_case("rgb.png", "s.tvs", "gimp-rgb.png");
    add_case("rgb.png", "clear.tvs", "gimp-clear.png");
    add_case("rgba.png", "s.tvs", "gimp-rgba.png");
    add_case("transparent.png", "colour.tvs", "gimp-transparent.png");
    add_case("deep.png", "s.tvs", "gimp-deep.png");
    add_case("gamma.png", "s.tvs", "gimp-gamma.png");
    add_case("locked.png", "s.tvs", "gimp-locked.png");
    add_case("stale.png", "s.tvs", "gimp-stale.png");
    // The same layers at other precisions and states: floating point; alpha locked.
    scheme += QStringLiteral(
                  "(let ((image (open-png \"%1\")))"
                  " (gimp-image-convert-precision image float-precision)"
                  " (paint image \"%2\") (save image \"%3\"))\n")
                  .arg(path("deep.png"), path("s.tvs"), path("gimp-float.png"));
    scheme += QStringLiteral(
                  "(let ((image (open-png \"%1\")))"
                  " (gimp-layer-set-lock-alpha (layer-of image) TRUE)"
                  " (paint image \"%2\") (save image \"%3\"))\n")
                  .arg(path("rgba.png"), path("s.tvs"), path("gimp-lock-alpha.png"));
    // A run that paints nothing, though it sends and closes, leaves the image clean.
    scheme += QStringLiteral(
                  "(let ((image (open-png \"%1\")))"
                  " (gimp-image-clean-all image) (paint image \"%2\")"
                  " (gimp-message (if (truth (car (gimp-image-is-dirty image)))"
                  " \"tarvo-case: dirty after nothing\" \"tarvo-case: clean after nothing\"))"
                  " (paint image \"%3\")"
                  " (gimp-message (if (truth (car (gimp-image-is-dirty image)))"
                  " \"tarvo-case: dirty after painting\" \"tarvo-case: clean after painting\")))\n")
                  .arg(path("rgb.png"), path("nothing.tvs"), path("s.tvs"));
    add_case("grey.png", "s.tvs", "gimp-grey.png");
    add_case("indexed.png", "s.tvs", "gimp-indexed.png");
#if TARVO_GIMP_VERSION == 3
    scheme += QStringLiteral("(two-layers-case \"%1\" \"%2\" \"%3\")\n")
                  .arg(path("rgb.png"), path("s.tvs"), path("gimp-two-layers.png"));
    scheme += QStringLiteral("(effect-case \"%1\" \"%2\")\n").arg(path("rgb.png"), path("s.tvs"));
#endif
    // Layers Tarvo cannot paint on, and a text layer, which it paints on once told.
    scheme += QStringLiteral(
                  "(let* ((image (open-png \"%1\")) (group (new-group image)))"
                  " (gimp-image-insert-layer image group 0 0)"
                  " (drawable-case \"group\" image group \"%2\"))\n"
                  "(let* ((image (open-png \"%1\")) (layer (layer-of image))"
                  "       (mask (car (gimp-layer-create-mask layer ADD-MASK-WHITE))))"
                  " (gimp-layer-add-mask layer mask)"
                  " (drawable-case \"mask\" image mask \"%2\"))\n"
                  "(let* ((image (open-png \"%1\")) (layer (layer-of image)))"
                  " (gimp-item-set-lock-content layer TRUE)"
                  " (drawable-case \"locked\" image layer \"%2\"))\n"
                  "(let* ((image (open-png \"%1\")) (text (new-text image)))"
                  " (drawable-case \"text\" image text \"%2\"))\n")
                  .arg(path("rgb.png"), path("s.tvs"));
    add_case("rgb.png", "missing.tvs", "gimp-missing.png");
    add_case("rgb.png", "bad.tvs", "gimp-bad.png");
    // A rectangle selected: paint outside it stays out of the layer.
    scheme += QStringLiteral(
                  "(let ((image (open-png \"%1\")))"
                  " (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 30 20 50 40)"
                  " (paint image \"%2\") (save image \"%3\"))\n")
                  .arg(path("rgb.png"), path("s.tvs"), path("gimp-selection.png"));
    scheme += QStringLiteral(
                  "(let ((image (open-png \"%1\")))"
                  " (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 30 20 50 40)"
                  " (paint image \"%2\") (save image \"%3\"))\n")
                  .arg(path("rgb.png"), path("pick.tvs"), path("gimp-pick.png"));
    // The active pattern as paper, and the same pattern's pixels saved for --paper.
    scheme += QStringLiteral(
                  "(let* ((name (car (gimp-context-get-pattern)))"
                  "       (info (gimp-pattern-get-info name))"
                  "       (image (car (gimp-image-new (car info) (cadr info) RGB)))"
                  "       (layer (new-layer image (car info) (cadr info))))"
                  " (gimp-image-insert-layer image layer 0 0)"
                  " (gimp-drawable-fill layer FILL-PATTERN) (save image \"%1\"))\n")
                  .arg(path("pattern.png"));
    add_case("rgb.png", "paper.tvs", "gimp-paper.png");
    // A layer painted in two runs, the first with a send before its end: its history.
    QVERIFY(QFile::copy(path(QStringLiteral("rgb.png")), path(QStringLiteral("history.png"))));
    scheme += QStringLiteral(
                  "(let ((image (open-png \"%1\")))"
                  " (gimp-item-set-name (layer-of image) \"Paint\")"
                  " (paint image \"%2\") (paint image \"%3\") (save image \"%4\"))\n")
                  .arg(path("history.png"), path("sends.tvs"), path("more.tvs"),
                       path("gimp-history.png"));

    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kProfileVariable), path(QStringLiteral("profile")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
#if TARVO_GIMP_VERSION == 3
    run.start(gimp,
              {"-i", "-d", "--quit", "--batch-interpreter=plug-in-script-fu-eval", "-b", scheme});
#else
    run.start(gimp, {"-i", "-d", "-b", scheme, "-b", "(gimp-quit 0)"});
#endif
    QVERIFY2(run.waitForFinished(300000), "GIMP did not finish the batch");
    gimp_output_ = QString::fromLocal8Bit(run.readAll());
    if (!gimp_output_.contains(QLatin1String("batch command executed successfully")))
      QVERIFY2(gimp_output_.contains(QLatin1String("batch command executed successfully")),
               qPrintable(gimp_output_));
  }

  void an_rgb_layer_gets_what_the_program_paints_on_the_file() {
    replay("rgb.png", "s.tvs", "ref-rgb.png");
    const QImage gimp = rgb("gimp-rgb.png");
    QCOMPARE(gimp, rgb("ref-rgb.png"));
    QVERIFY(gimp != rgb("rgb.png"));
    replay("rgb.png", "clear.tvs", "ref-clear.png");
    QCOMPARE(rgb("gimp-clear.png"), rgb("ref-clear.png"));
  }

  // A layer with alpha is painted as the stand-alone program paints the same file: paint laid over
  // its pixels as coverage, so that painted pixels keep an alpha below opaque where the paint was
  // partial. Every unpainted pixel keeps its colour and alpha. With the layer's alpha locked, the
  // canvas paints the layer as seen over white (the program's replay on that picture), and a
  // painted pixel takes that colour with its own alpha.
  void an_rgba_layer_is_painted_as_the_program_paints_the_file() {
    const QImage in = load("rgba.png").convertToFormat(QImage::Format_ARGB32);
    QImage flat(in.size(), QImage::Format_RGB888);
    for (int y = 0; y < in.height(); ++y) {
      for (int x = 0; x < in.width(); ++x) {
        const QRgb pixel = in.pixel(x, y);
        const auto over_white = [&](int channel) {
          return 255 - ((255 - channel) * qAlpha(pixel) + 127) / 255;
        };
        flat.setPixel(
            x, y,
            qRgb(over_white(qRed(pixel)), over_white(qGreen(pixel)), over_white(qBlue(pixel))));
      }
    }
    QVERIFY(flat.save(path(QStringLiteral("flat.png"))));
    replay("flat.png", "s.tvs", "ref-flat.png");
    replay("rgba.png", "s.tvs", "ref-rgba.png");
    const QImage ref_flat = load("ref-flat.png").convertToFormat(QImage::Format_RGB888);
    const QImage ref = load("ref-rgba.png").convertToFormat(QImage::Format_ARGB32);
    const QImage gimp = load("gimp-rgba.png").convertToFormat(QImage::Format_ARGB32);
    const QImage locked = load("gimp-lock-alpha.png").convertToFormat(QImage::Format_ARGB32);
    const QString difference = first_difference(gimp, ref);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    int painted = 0, partial = 0;
    for (int y = 0; y < in.height(); ++y) {
      for (int x = 0; x < in.width(); ++x) {
        const QRgb before = in.pixel(x, y);
        QCOMPARE(qAlpha(locked.pixel(x, y)), qAlpha(before));
        if (ref_flat.pixel(x, y) == flat.pixel(x, y)) {
          QCOMPARE(locked.pixel(x, y), before);
        } else {
          QCOMPARE(locked.pixel(x, y) & 0xffffff, ref_flat.pixel(x, y) & 0xffffff);
        }
        if (gimp.pixel(x, y) == before) continue;
        ++painted;
        partial += qAlpha(gimp.pixel(x, y)) < 255;
      }
    }
    QVERIFY(painted > 100);
    QVERIFY(partial > 10);
  }

  // A fully transparent layer: composited over white, the painted layer is what the canvas showed
  // (the program's replay on white paper), within a level; every pixel the stroke reached has
  // exactly the paint's colour, the edges with partial alpha; the rest stays transparent.
  void a_transparent_layer_takes_the_paint_as_coverage() {
    replay("white.png", "colour.tvs", "ref-white.png");
    replay("transparent.png", "colour.tvs", "ref-transparent.png");
    const QImage shown = load("ref-white.png").convertToFormat(QImage::Format_RGB888);
    const QImage gimp = load("gimp-transparent.png").convertToFormat(QImage::Format_ARGB32);
    const QString difference =
        first_difference(gimp, load("ref-transparent.png").convertToFormat(QImage::Format_ARGB32));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    int edges = 0, untouched = 0;
    for (int y = 0; y < gimp.height(); ++y) {
      for (int x = 0; x < gimp.width(); ++x) {
        const QRgb pixel = gimp.pixel(x, y);
        const int alpha = qAlpha(pixel);
        const QRgb seen = shown.pixel(x, y);
        const int own[3] = {qRed(pixel), qGreen(pixel), qBlue(pixel)};
        const int canvas[3] = {qRed(seen), qGreen(seen), qBlue(seen)};
        for (int c = 0; c < 3; ++c) {
          const int over = (own[c] * alpha + 255 * (255 - alpha) + 127) / 255;
          QVERIFY2(std::abs(over - canvas[c]) <= 1,
                   qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
        if (alpha == 0) {
          ++untouched;
          continue;
        }
        QCOMPARE(pixel & 0xffffff, qRgb(200, 40, 90) & 0xffffff);
        edges += alpha < 255;
      }
    }
    QVERIFY(edges > 20);
    QVERIFY(untouched > 1000);
  }

  // A layer read from a PNG with gAMA and cHRM chunks passes in its own space, unconverted.
  void a_layer_with_a_colour_profile_keeps_its_values() {
    replay("fill.png", "s.tvs", "ref-fill.png");
    const QImage gimp = rgb("gimp-gamma.png");
    QCOMPARE(gimp, rgb("ref-fill.png"));
    QCOMPARE(gimp.pixel(119, 0), qRgb(200, 100, 37));
  }

  void a_run_that_changes_nothing_leaves_the_image_clean() {
    QVERIFY(gimp_output_.contains(QLatin1String("tarvo-case: clean after nothing")));
    QVERIFY(gimp_output_.contains(QLatin1String("tarvo-case: dirty after painting")));
  }

  void a_second_canvas_on_an_image_is_refused_while_one_is_open() {
    QCOMPARE(rgb("gimp-locked.png"), rgb("locked.png"));
    QVERIFY(gimp_output_.contains(
        QStringLiteral("Tarvo is already painting on this image: the Tarvo canvas on "
                       "\"locked.png\" (process %1) is open")
            .arg(holder_pid_)));
    QCOMPARE(rgb("gimp-stale.png"), rgb("gimp-rgb.png"));  // a stale lock is taken over
    holder_.kill();
    holder_.waitForFinished();
  }

  void a_deep_layer_keeps_every_unpainted_level_data() {
    QTest::addColumn<QString>("result");
    QTest::newRow("16-bit") << QStringLiteral("gimp-deep.png");
    QTest::newRow("32-bit float") << QStringLiteral("gimp-float.png");
  }
  void a_deep_layer_keeps_every_unpainted_level() {
    QFETCH(QString, result);
    replay("deep.png", "s.tvs", "ref-deep.png");
    const QImage in = load("deep.png").convertToFormat(QImage::Format_RGBX64);
    const QImage gimp = load(result).convertToFormat(QImage::Format_RGBX64);
    const QImage ref = load("ref-deep.png").convertToFormat(QImage::Format_RGB888);
    int kept = 0, painted = 0;
    for (int y = 0; y < in.height(); ++y) {
      const auto* before = reinterpret_cast<const QRgba64*>(in.constScanLine(y));
      const auto* after = reinterpret_cast<const QRgba64*>(gimp.constScanLine(y));
      for (int x = 0; x < in.width(); ++x) {
        if (before[x] == after[x]) {
          ++kept;
          continue;
        }
        // A changed pixel holds the painted 8-bit colour exactly.
        ++painted;
        const QRgb colour = ref.pixel(x, y);
        QCOMPARE(after[x].red(), quint16(qRed(colour) * 257));
        QCOMPARE(after[x].green(), quint16(qGreen(colour) * 257));
        QCOMPARE(after[x].blue(), quint16(qBlue(colour) * 257));
      }
    }
    QVERIFY(kept > 5000);
    QVERIFY(painted > 100);
  }

  void paint_outside_the_selection_stays_out() {
    const QImage in = rgb("rgb.png");
    const QImage gimp = rgb("gimp-selection.png");
    const QImage ref = rgb("ref-rgb.png");
    const QRect selected(30, 20, 50, 40);
    for (int y = 0; y < in.height(); ++y) {
      for (int x = 0; x < in.width(); ++x) {
        QCOMPARE(gimp.pixel(x, y), (selected.contains(x, y) ? ref : in).pixel(x, y));
      }
    }
  }

  // After a send with a selection the canvas holds what the layer holds: a pick outside the
  // selection takes the layer's own colour, not the paint that stayed out.
  void after_a_send_with_a_selection_the_canvas_shows_the_layer() {
    replay("rgb.png", "picked.tvs", "ref-picked.png");
    const QImage in = rgb("rgb.png");
    QCOMPARE(in.pixel(15, 31), qRgb(30, 91, 185));
    QCOMPARE(rgb("gimp-pick.png").pixel(55, 52), qRgb(30, 91, 185));  // stroke B, in that colour
    const QImage gimp = rgb("gimp-pick.png");
    const QImage ref = rgb("ref-picked.png");
    const QRect selected(30, 20, 50, 40);
    for (int y = 0; y < in.height(); ++y) {
      for (int x = 0; x < in.width(); ++x) {
        QCOMPARE(gimp.pixel(x, y), (selected.contains(x, y) ? ref : in).pixel(x, y));
      }
    }
  }

  void the_active_pattern_is_the_paper() {
    replay("rgb.png", "paper.tvs", "ref-paper.png",
           {QStringLiteral("--paper"), path("pattern.png")});
    QCOMPARE(rgb("gimp-paper.png"), rgb("ref-paper.png"));
  }

  // A group, a mask and a layer whose pixels are locked are refused before anything opens, saying
  // what to do, and leave the image clean; a text layer is painted (a script asked for it), and
  // standard error says its text information went.
  void layers_tarvo_cannot_paint_on_are_refused_with_what_to_do() {
    QVERIFY(gimp_output_.contains(QLatin1String("tarvo-case group: refused, clean")));
    QVERIFY(
        gimp_output_.contains(QLatin1String("is a layer group, which has no pixels of its own "
                                            "to paint on: select one of its layers")));
    QVERIFY(gimp_output_.contains(QLatin1String("tarvo-case mask: refused, clean")));
    QVERIFY(
        gimp_output_.contains(QLatin1String("is selected, and Tarvo paints colour, not masks: "
                                            "click the layer's own thumbnail")));
    QVERIFY(gimp_output_.contains(QLatin1String("tarvo-case locked: refused, clean")));
    QVERIFY(gimp_output_.contains(QLatin1String("are locked: unlock them (\"Lock pixels\"")));
    QVERIFY(gimp_output_.contains(QLatin1String("tarvo-case text: painted, dirty")));
    QVERIFY(gimp_output_.contains(
        QLatin1String("is a text layer: painting on it discards its text information")));
  }

  // The layer's history holds both runs; its lossless time-lapse has a frame a stroke and ends with
  // the layer as GIMP saved it.
  void a_layer_painted_over_two_sends_has_a_time_lapse() {
    const QString image =
        path(QStringLiteral("history.png")) + QString::fromLatin1(kImageFileSuffix);
    const QString video = path(QStringLiteral("history.mkv"));
    QProcess tarvo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    tarvo.setProcessEnvironment(environment);
    tarvo.start(
        QStringLiteral(TARVO_EXECUTABLE),
        {image, QStringLiteral("--layer"), QStringLiteral("Paint"), QStringLiteral("--history")});
    QVERIFY(tarvo.waitForFinished(60000));
    const QString listed = QString::fromLocal8Bit(tarvo.readAllStandardOutput());
    QVERIFY2(listed.contains(QLatin1String("2 sessions")), qPrintable(listed));
    tarvo.start(
        QStringLiteral(TARVO_EXECUTABLE),
        {image, QStringLiteral("--layer"), QStringLiteral("Paint"), QStringLiteral("--timelapse"),
         video, QStringLiteral("--hold"), QStringLiteral("0")});
    QVERIFY(tarvo.waitForFinished(120000));
    QVERIFY2(tarvo.exitCode() == 0, tarvo.readAllStandardError().constData());
    QProcess decode;
    decode.start(QStringLiteral("ffmpeg"),
                 {"-v", "error", "-i", video, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    QVERIFY(decode.waitForFinished(60000));
    const QByteArray frames = decode.readAllStandardOutput();
    const qsizetype frame = 120 * 90 * 3;
    QCOMPARE(frames.size(), 3 * frame);
    const QImage saved = rgb("gimp-history.png");
    QByteArray last;
    for (int y = 0; y < saved.height(); ++y) {
      last.append(reinterpret_cast<const char*>(saved.constScanLine(y)), frame / 90);
    }
    QCOMPARE(frames.mid(2 * frame), last);
  }

  // GIMP 3 draws a layer's effects over the paint: the run says so, naming them. No run of the
  // plug-in says that localization is off, or writes to a pipe GIMP has closed.
  void the_runs_say_what_a_painter_needs_and_nothing_else() {
    const QString effects = QStringLiteral("over the paint: Pixelize.");
#if TARVO_GIMP_VERSION == 3
    QVERIFY2(gimp_output_.count(effects) == 1, qPrintable(gimp_output_));
#else
    QVERIFY(!gimp_output_.contains(effects));
#endif
    QVERIFY(!gimp_output_.contains(QLatin1String("Localization disabled")));
    for (const QString& line : gimp_output_.split(QLatin1Char('\n'))) {
      QVERIFY2(
          !line.contains(QLatin1String("tarvo")) || !line.contains(QLatin1String("gimp_flush")),
          qPrintable(line));
    }
  }

  void refused_runs_write_nothing_and_say_why() {
    const QImage in = rgb("rgb.png");
    QCOMPARE(rgb("gimp-missing.png"), in);
    QCOMPARE(rgb("gimp-bad.png"), in);
    QCOMPARE(rgb("gimp-grey.png"), rgb("grey.png"));
    QVERIFY(
        gimp_output_.contains(QLatin1String("Tarvo paints on RGB layers; this is a grayscale")));
    QCOMPARE(rgb("gimp-indexed.png"), rgb("indexed.png"));
    QVERIFY(gimp_output_.contains(QLatin1String("Tarvo paints on RGB layers; this is an indexed")));
    int refused = 5;
#if TARVO_GIMP_VERSION == 3
    QCOMPARE(rgb("gimp-two-layers.png"), in);
    QVERIFY(gimp_output_.contains(
        QLatin1String("Tarvo paints on one layer at a time, and 2 are selected")));
    ++refused;
#endif
    QVERIFY(gimp_output_.contains(QLatin1String("missing.tvs: cannot open the event script")));
    QVERIFY(gimp_output_.contains(QLatin1String("bad.tvs:2: expected 4 arguments")));
    QCOMPARE(gimp_output_.count(QLatin1String("tarvo-case: refused")), refused);
  }
};

}  // namespace

QTEST_GUILESS_MAIN(GimpPlugInTest)
#include "qt_gimp_test.moc"
