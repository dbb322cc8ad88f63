#pragma once
// Where the program's own data files (the built-in wallpaper, icons) are found.

#include <QString>

namespace tarvo {

// The absolute path of the data file called name, from the first of these folders that holds it:
//   1. $TARVO_DATA_DIR, when set and not empty;
//   2. <folder of the executable>/../share/tarvo (a relocated installation), when an application
//      object exists;
//   3. the folder the build installs data into (TARVO_INSTALLED_DATA_DIR);
//   4. tarvo/ in the system's data folders ($XDG_DATA_HOME, $XDG_DATA_DIRS: /usr/local/share and
//      /usr/share by default), for a program installed elsewhere than the build said;
//   5. the source tree's data folder (TARVO_SOURCE_DATA_DIR), for runs from the build tree.
// An empty string when none holds it.
QString tarvo_data_file(const QString& name);

}  // namespace tarvo
