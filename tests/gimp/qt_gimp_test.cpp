// The GIMP plug-in in a real GIMP: one batch session of gimp-console-2.10, with a temporary profile
// holding the freshly built plug-in, paints every case and saves the results; the checks then
// compare them with what the stand-alone program paints from the same files and scripts.

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

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

// Scheme that paints one image and saves it, or saves it unpainted when the plug-in refuses.
const char kSchemeHelpers[] = R"(
(define (open-png name) (car (file-png-load RUN-NONINTERACTIVE name name)))
(define (save image name)
  (file-png-save2 RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image)) name name
                  0 9 0 0 0 0 0 0 1))
(define (paint image script)
  (if (catch #f (plug-in-tarvo RUN-NONINTERACTIVE image
                               (car (gimp-image-get-active-drawable image)) script))
      (gimp-message "tarvo-case: painted")
      (gimp-message "tarvo-case: refused")))
(define (paint-case in script out) (let ((image (open-png in))) (paint image script) (save image out)))
)";

class GimpPlugInTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString gimp_output_;
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

 private slots:
  void initTestCase() {
    const QString gimp = QStandardPaths::findExecutable(QStringLiteral("gimp-console-2.10"));
    if (gimp.isEmpty()) QSKIP("gimp-console-2.10 is not installed (scripts/setup installs it)");
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
    write(QStringLiteral("s.tvs"), kScript);
    write(QStringLiteral("paper.tvs"), kPaperScript);
    write(QStringLiteral("clear.tvs"), "kv_button2_Click\n");  // every pixel changes
    write(QStringLiteral("bad.tvs"), "Form_Resize 120 90\nForm_MouseDown 1 0 10\n");

    QString scheme = QString::fromLatin1(kSchemeHelpers);
    const auto add_case = [&](const QString& in, const QString& script, const QString& out) {
      scheme += QStringLiteral("(paint-case \"%1\" \"%2\" \"%3\")\n")
                    .arg(path(in), script.isEmpty() ? QString() : path(script), path(out));
    };
    add_case("rgb.png", "s.tvs", "gimp-rgb.png");
    add_case("rgb.png", "clear.tvs", "gimp-clear.png");
    add_case("rgba.png", "s.tvs", "gimp-rgba.png");
    add_case("deep.png", "s.tvs", "gimp-deep.png");
    add_case("grey.png", "s.tvs", "gimp-grey.png");
    add_case("rgb.png", "missing.tvs", "gimp-missing.png");
    add_case("rgb.png", "bad.tvs", "gimp-bad.png");
    // A rectangle selected: paint outside it stays out of the layer.
    scheme += QStringLiteral(
                  "(let ((image (open-png \"%1\")))"
                  " (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 30 20 50 40)"
                  " (paint image \"%2\") (save image \"%3\"))\n")
                  .arg(path("rgb.png"), path("s.tvs"), path("gimp-selection.png"));
    // The active pattern as paper, and the same pattern's pixels saved for --paper.
    scheme +=
        QStringLiteral(
            "(let* ((name (car (gimp-context-get-pattern)))"
            "       (info (gimp-pattern-get-info name))"
            "       (image (car (gimp-image-new (car info) (cadr info) RGB)))"
            "       (layer (car (gimp-layer-new image (car info) (cadr info) RGB-IMAGE \"p\" 100 "
            "LAYER-MODE-NORMAL))))"
            " (gimp-image-insert-layer image layer 0 0)"
            " (gimp-drawable-fill layer FILL-PATTERN) (save image \"%1\"))\n")
            .arg(path("pattern.png"));
    add_case("rgb.png", "paper.tvs", "gimp-paper.png");

    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GIMP2_DIRECTORY"), path(QStringLiteral("profile")));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(gimp, {"-i", "-d", "-f", "-b", scheme, "-b", "(gimp-quit 0)"});
    QVERIFY2(run.waitForFinished(300000), "GIMP did not finish the batch");
    gimp_output_ = QString::fromLocal8Bit(run.readAll());
    if (!gimp_output_.contains(QLatin1String("batch command executed successfully")))
      qWarning().noquote() << gimp_output_;
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

  void an_rgba_layer_keeps_its_alpha() {
    replay("rgba.png", "s.tvs", "ref-rgba.png");
    const QImage in = load("rgba.png").convertToFormat(QImage::Format_ARGB32);
    const QImage gimp = load("gimp-rgba.png").convertToFormat(QImage::Format_ARGB32);
    const QImage ref = load("ref-rgba.png").convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < in.height(); ++y) {
      for (int x = 0; x < in.width(); ++x) {
        QCOMPARE(qAlpha(gimp.pixel(x, y)), qAlpha(in.pixel(x, y)));
        QCOMPARE(gimp.pixel(x, y) & 0xffffff, ref.pixel(x, y) & 0xffffff);
      }
    }
  }

  void a_deep_layer_keeps_every_unpainted_level() {
    replay("deep.png", "s.tvs", "ref-deep.png");
    const QImage in = load("deep.png").convertToFormat(QImage::Format_RGBX64);
    const QImage gimp = load("gimp-deep.png").convertToFormat(QImage::Format_RGBX64);
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

  void the_active_pattern_is_the_paper() {
    replay("rgb.png", "paper.tvs", "ref-paper.png",
           {QStringLiteral("--paper"), path("pattern.png")});
    QCOMPARE(rgb("gimp-paper.png"), rgb("ref-paper.png"));
  }

  void refused_runs_write_nothing_and_say_why() {
    const QImage in = rgb("rgb.png");
    QCOMPARE(rgb("gimp-missing.png"), in);
    QCOMPARE(rgb("gimp-bad.png"), in);
    QCOMPARE(rgb("gimp-grey.png"), rgb("grey.png"));
    QVERIFY(
        gimp_output_.contains(QLatin1String("Tarvo paints on RGB layers; this is a grayscale")));
    QVERIFY(gimp_output_.contains(QLatin1String("missing.tvs: cannot open the event script")));
    QVERIFY(gimp_output_.contains(QLatin1String("bad.tvs:2: expected 4 arguments")));
    QCOMPARE(gimp_output_.count(QLatin1String("tarvo-case: refused")), 3);
  }
};

}  // namespace

QTEST_GUILESS_MAIN(GimpPlugInTest)
#include "qt_gimp_test.moc"
