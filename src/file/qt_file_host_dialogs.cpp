// The file host's questions: a write that failed, a file changed by another program, and the
// name to save the painting under instead.

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <future>
#include <iostream>
#include <system_error>
#include <utility>

#include "appearance/qt_data_files.h"
#include "core/canvas_window.h"
#include "core/runtime_error.h"
#include "file/qt_file_formats.h"
#include "file/qt_file_host.h"
#include "file/qt_progress.h"
#include "recovery/qt_recovery.h"
#include "render/paper_grain.h"

namespace tarvo {

void FileHost::save_elsewhere_or_keep_painting(const QString& failure) {
  if (!options_.presence->someone_looking) throw ImageNotWritten(failure.toStdString(), false);
  for (;;) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                    failure + QStringLiteral("\n\nSave the painting under another name, or keep "
                                             "painting?"),
                    QMessageBox::NoButton, window_);
    QPushButton* save = box.addButton(QStringLiteral("Save As..."), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(QStringLiteral("Keep Painting"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() != save || !save_under_another_name()) {
      throw ImageNotWritten(failure.toStdString(), true);
    }
    if (!unwritten_) return;
  }
}

FileHost::Answer FileHost::ask_about_change_elsewhere() {
  const QString name = display_name(write_path());
  if (!options_.presence->someone_looking) {
    throw ImageNotWritten(name.toStdString() +
                              " was changed by another program since it was read; it was not "
                              "overwritten",
                          false);
  }
  const QString choices = can_repaint_
                              ? QStringLiteral(
                                    "Paint your strokes since then onto the file as it is now, "
                                    "overwrite it with your painting, save the painting under "
                                    "another name, or keep painting?")
                              : QStringLiteral(
                                    "Overwrite it with your painting, save the painting under "
                                    "another name, or keep painting?");
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  QStringLiteral("%1 was changed by another program since Tarvo read or wrote it."
                                 "\n\n%2")
                      .arg(name, choices),
                  QMessageBox::NoButton, window_);
  QPushButton* paint_onto =
      can_repaint_ ? box.addButton(QStringLiteral("Paint onto the File"), QMessageBox::AcceptRole)
                   : nullptr;
  QPushButton* overwrite = box.addButton(QStringLiteral("Overwrite"), QMessageBox::DestructiveRole);
  QPushButton* save = box.addButton(QStringLiteral("Save As..."), QMessageBox::AcceptRole);
  QPushButton* keep = box.addButton(QStringLiteral("Keep Painting"), QMessageBox::RejectRole);
  // Return never overwrites another program's work.
  box.setDefaultButton(paint_onto ? paint_onto : keep);
  box.setEscapeButton(keep);
  box.exec();
  if (paint_onto && box.clickedButton() == paint_onto) return Answer::kPaintOnto;
  if (box.clickedButton() == overwrite) return Answer::kOverwrite;
  if (box.clickedButton() == save && save_under_another_name()) {
    return Answer::kSaveElsewhere;
  }
  return Answer::kKeepPainting;
}

// Asks for a file name and writes the painting there; from then on the host writes to that file.
// Returns false when the user cancels; a failed write is said and asked about again.
bool FileHost::save_under_another_name() {
  QFileDialog dialog(window_, QStringLiteral("Save the painting as"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  const QFileInfo current(write_path());
  const QFileInfo folder(current.absolutePath());
  dialog.setDirectory(folder.isWritable() ? folder.absoluteFilePath() : QDir::homePath());
  dialog.selectFile(current.fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  const QString chosen = dialog.selectedFiles().first();
  try {
    const QByteArray format = format_for_suffix(chosen, traits_.format);
    run_with_progress(*options_.presence, window_,
                      QStringLiteral("Writing %1 ...").arg(display_name(chosen)),
                      [&] { stamp_ = write_image_to(chosen, format, false); });
    stamp_is_planes_ = false;
    traits_.format = format;
  } catch (const RuntimeError& error) {
    QMessageBox::warning(window_, QApplication::applicationDisplayName(),
                         QString::fromUtf8(error.what()));
    return true;  // asked again: unwritten_ still holds
  }
  if (!same_file(chosen, options_.image_path)) options_.output_path = chosen;
  std::cerr << "tarvo: the painting is saved as " << display_name(chosen).toStdString() << "\n";
  unwritten_ = false;
  file_is_original_ = false;
  keep_backup_ = backup_is_original_ = false;
  return true;
}

}  // namespace tarvo
