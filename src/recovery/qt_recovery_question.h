#pragma once
// The question at start over a painting that was not saved, and the words for it that standard
// error repeats: when it was painted, where it is kept, what became of its image file.

#include <QDateTime>
#include <QList>
#include <QString>
#include <vector>

#include "recovery/qt_recovery_plan.h"

namespace tarvo {

// A time as the question shows it: the user's locale, long format, in local time, without the
// zone's name.
QString when(const QDateTime& time);
// "the painting of WHEN that was not saved is kept in PATH"; a GIMP painting's says where it was
// painted: "the painting of WHEN on the layer "Ink" of photo.xcf that ...".
QString kept_in(const RecoveryPlan& plan);
// "f3.png was changed after this painting was made: ...", for a plan whose image file changed.
QString image_change(const RecoveryPlan& plan);

enum class RecoveryAnswer { Recover, PaintOntoImage, Keep, Discard };
// Asks "Recover the painting that was not saved?" (for a GIMP painting "Recover the painting of
// the layer "Ink" of photo.xcf that was not saved?", saying too when its layer is gone), saying
// when it was painted, when each painting still kept was painted (kept_times, newest first, this
// one among them), and the plan's notice when there is one. Over an image file as it was, the
// answers are Yes, No and Discard; over a file changed since, the question says so and offers "Open
// As It Was", "Paint onto the File", "Keep for Later" and "Discard" (each of the first two where
// the plan has it).
RecoveryAnswer ask_about_recovery(const RecoveryPlan& plan, const QList<QDateTime>& kept_times);
// Offers each kept painting in turn, newest first, until the user takes one (Yes, or either way of
// recovering it): No keeps it for later, Discard removes it. Returns the plan taken (onto_image()
// when its inputs go onto the file as it is now), or an empty one, having said on standard error
// what became of the others.
RecoveryPlan choose_recovery(const std::vector<RecoveryPlan>& kept);
}  // namespace tarvo
