#include "recovery/qt_recovery_question.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <iostream>

namespace tarvo {

namespace {

// A locale's date and time format without its time zone fields ("t", "tt", ...), which would name
// the zone (as "UTC" where the system names none) although the time shown is the local one.
QString without_zone(const QString& format) {
  QString kept;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    kept += c;
  }
  return kept.trimmed();
}

// "the layer "Ink" of photo.xcf": where a GIMP painting was painted; empty for a file's.
QString place_of(const RecoveryPlan& plan) {
  if (plan.image_name.isEmpty()) return {};
  if (plan.layer.isEmpty()) return QStringLiteral("a layer of %1").arg(plan.image_name);
  return QStringLiteral("the layer \"%1\" of %2").arg(plan.layer, plan.image_name);
}

}  // namespace

QString when(const QDateTime& time) {
  const QLocale locale;
  return locale.toString(time.toLocalTime(),
                         without_zone(locale.dateTimeFormat(QLocale::LongFormat)));
}

QString kept_in(const RecoveryPlan& plan) {
  const QString place = place_of(plan);
  return QStringLiteral("the painting of %1%2 that was not saved is kept in %3")
      .arg(when(plan.painted_at), place.isEmpty() ? QString() : QStringLiteral(" on ") + place,
           plan.source);
}

// "f3.png was changed ...": what became of the image file since the painting began.
QString image_change(const RecoveryPlan& plan) {
  const QFileInfo image(plan.image_path);
  return QStringLiteral(
             "%1 was changed after this painting was made: it was written on %2, by another "
             "program or another run of Tarvo")
      .arg(image.fileName(), when(image.lastModified()));
}

namespace {

QString kept_times_text(const RecoveryPlan& plan, const QList<QDateTime>& kept_times) {
  QString details;
  if (kept_times.size() > 1) {
    details += QStringLiteral(
                   "\n\n%1 paintings of this image were not saved; newest first, they "
                   "were painted on:")
                   .arg(kept_times.size());
    for (const QDateTime& time : kept_times) {
      details += QStringLiteral("\n    ") + when(time);
      if (time == plan.painted_at) details += QStringLiteral(" (this one)");
    }
  }
  if (!plan.notice.isEmpty()) details += QStringLiteral("\n\n") + plan.notice + QLatin1Char('.');
  return details;
}

// The question's first line: which painting, and for a GIMP painting where it was painted.
QString question_of(const RecoveryPlan& plan) {
  const QString place = place_of(plan);
  if (place.isEmpty()) return QStringLiteral("Recover the painting that was not saved?");
  return QStringLiteral("Recover the painting of %1 that was not saved?").arg(place);
}

// What the question says first about a GIMP painting of a layer other than the canvas's.
QString layer_text(const RecoveryPlan& plan) {
  if (plan.image_name.isEmpty()) return {};
  if (plan.other_layer) {
    return QStringLiteral(
               "%1 has no layer named \"%2\" now (it was renamed or deleted): recovering the "
               "painting opens it on the layer Tarvo Paint was started on.\n\n")
        .arg(plan.image_name, plan.layer);
  }
  if (plan.layer.isEmpty()) {
    return QStringLiteral(
        "It was kept before Tarvo noted which layer a painting belongs to: it may be another "
        "layer's.\n\n");
  }
  return {};
}

// The question over an image file changed since the painting began, or over one that only its
// inputs are left of.
RecoveryAnswer ask_about_changed_image(const RecoveryPlan& plan,
                                       const QList<QDateTime>& kept_times) {
  const QString name = QFileInfo(plan.image_path).fileName();
  QString details = layer_text(plan);
  if (plan.image_changed) details += image_change(plan) + QStringLiteral(".\n\n");
  details += QStringLiteral("The painting was painted on %1.").arg(when(plan.painted_at));
  if (!plan.open_path.isEmpty()) {
    details +=
        QStringLiteral(" Open As It Was opens it as it was then; writing it over %1 asks first.")
            .arg(name);
  }
  if (plan.paints_onto_image()) {
    details +=
        QStringLiteral(" Paint onto the File paints its strokes onto %1 as it is now.").arg(name);
  }
  details += QStringLiteral(" Keep for Later keeps it in the recovery folder; Discard deletes it.");
  details += kept_times_text(plan, kept_times);
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question_of(plan));
  QPushButton* as_it_was =
      plan.open_path.isEmpty()
          ? nullptr
          : box.addButton(QStringLiteral("&Open As It Was"), QMessageBox::AcceptRole);
  QPushButton* onto =
      plan.paints_onto_image()
          ? box.addButton(QStringLiteral("&Paint onto the File"), QMessageBox::AcceptRole)
          : nullptr;
  QPushButton* keep = box.addButton(QStringLiteral("&Keep for Later"), QMessageBox::RejectRole);
  QPushButton* discard = box.addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
  box.setDefaultButton(as_it_was ? as_it_was : onto);
  box.setEscapeButton(keep);
  box.setInformativeText(details);
  box.exec();
  if (as_it_was && box.clickedButton() == as_it_was) return RecoveryAnswer::Recover;
  if (onto && box.clickedButton() == onto) return RecoveryAnswer::PaintOntoImage;
  return box.clickedButton() == discard ? RecoveryAnswer::Discard : RecoveryAnswer::Keep;
}
}  // namespace

RecoveryAnswer ask_about_recovery(const RecoveryPlan& plan, const QList<QDateTime>& kept_times) {
  if (plan.image_changed || plan.open_path.isEmpty()) {
    return ask_about_changed_image(plan, kept_times);
  }
  const QString details = layer_text(plan) +
                          QStringLiteral(
                              "It was painted on %1. No keeps it in the recovery folder for "
                              "later; Discard deletes it.")
                              .arg(when(plan.painted_at)) +
                          kept_times_text(plan, kept_times);
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question_of(plan),
                  QMessageBox::Yes | QMessageBox::No);
  QPushButton* discard = box.addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  box.setInformativeText(details);
  box.exec();
  if (box.clickedButton() == discard) return RecoveryAnswer::Discard;
  return box.clickedButton() == box.button(QMessageBox::Yes) ? RecoveryAnswer::Recover
                                                             : RecoveryAnswer::Keep;
}

RecoveryPlan choose_recovery(const std::vector<RecoveryPlan>& kept) {
  QList<QDateTime> times;
  for (const RecoveryPlan& plan : kept) times << plan.painted_at;
  for (const RecoveryPlan& plan : kept) {
    switch (ask_about_recovery(plan, times)) {
      case RecoveryAnswer::Recover:
        return plan;
      case RecoveryAnswer::PaintOntoImage:
        return plan.onto_image();
      case RecoveryAnswer::Discard:
        discard_recovery(plan);
        times.removeOne(plan.painted_at);
        std::cerr << "tarvo: the painting of " << when(plan.painted_at).toStdString()
                  << " that was not saved is discarded" << std::endl;
        break;
      case RecoveryAnswer::Keep:
        std::cerr << "tarvo: " << kept_in(plan).toStdString() << std::endl;
        break;
    }
  }
  return {};
}
}  // namespace tarvo
