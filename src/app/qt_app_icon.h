#pragma once
// The application's icon: a spline stroke through three points on a sheet of paper.

#include <QIcon>

namespace tarvo {

// The icon in every size the program ships (icons/tarvo-N.png among its data files), or, when none
// is found, the one the desktop's icon theme holds under the name "tarvo".
QIcon tarvo_icon();

}  // namespace tarvo
