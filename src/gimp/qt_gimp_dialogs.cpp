#include "gimp/qt_gimp_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>

#include "file/qt_image_file.h"

namespace tarvo {

LayerSizeAnswer ask_about_layer_size(QWidget* parent, const std::string& what, bool can_scale) {
  QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                  QString::fromStdString(what) +
                      QStringLiteral("\n\nKeep painting (an undo in GIMP brings the layer's size "
                                     "back), add the painting to the image as a new layer, save "
                                     "it as a file%1?")
                          .arg(can_scale ? QStringLiteral(", or paint your strokes onto the layer "
                                                          "at its new size, scaled to fit")
                                         : QString()),
                  QMessageBox::NoButton, parent);
  QPushButton* keep = box.addButton(QStringLiteral("Keep Painting"), QMessageBox::RejectRole);
  QPushButton* layer =
      box.addButton(QStringLiteral("Save as a New Layer"), QMessageBox::AcceptRole);
  QPushButton* file = box.addButton(QStringLiteral("Save as a &File..."), QMessageBox::AcceptRole);
  QPushButton* scaled = can_scale ? box.addButton(QStringLiteral("Paint onto the &Resized Layer"),
                                                  QMessageBox::AcceptRole)
                                  : nullptr;
  box.setDefaultButton(keep);
  box.setEscapeButton(keep);
  box.exec();
  if (box.clickedButton() == layer) return LayerSizeAnswer::kNewLayer;
  if (box.clickedButton() == file) return LayerSizeAnswer::kSaveFile;
  if (scaled && box.clickedButton() == scaled) return LayerSizeAnswer::kRepaintScaled;
  return LayerSizeAnswer::kKeepPainting;
}

std::string save_painting_as_file(QWidget* parent, const HostImage& painting,
                                  const std::string& layer_name) {
  QString name = QString::fromStdString(layer_name).trimmed();
  for (QChar& c : name) {
    if (c == QLatin1Char('/')) c = QLatin1Char('_');
  }
  if (name.isEmpty()) name = QStringLiteral("painting");
  QFileDialog dialog(parent, QStringLiteral("Save the painting as"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilter(QStringLiteral("PNG image (*.png)"));
  dialog.setDefaultSuffix(QStringLiteral("png"));
  dialog.setDirectory(QDir::homePath());
  dialog.selectFile(name + QStringLiteral(" (Tarvo).png"));
  const ImageFileTraits traits;  // 8-bit PNG, RGBA where the painting has alpha
  for (;;) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString chosen = dialog.selectedFiles().first();
    const QImage picture = compose_picture(painting, traits);
    const QString suffix = QFileInfo(chosen).suffix().toLower();
    const char* format = suffix.isEmpty() ? "png" : nullptr;  // else by the name's suffix
    if (picture.save(chosen, format)) return chosen.toStdString();
    QMessageBox::warning(parent, QApplication::applicationDisplayName(),
                         QStringLiteral("The painting could not be written to %1. Choose another "
                                        "folder or name; the painting stays on the canvas.")
                             .arg(chosen));
  }
}

}  // namespace tarvo
