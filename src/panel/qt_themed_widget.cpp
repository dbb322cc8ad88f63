#include "panel/qt_themed_widget.h"

// The class is all in its header; this file gives it a home in the build, where its meta-object is
// generated.
