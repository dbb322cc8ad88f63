#pragma once
// A window of ours as the child of another program's window on Wayland. The other program exports
// its toplevel through xdg-foreign and hands over the handle, a string; the window imports it
// (zxdg_importer_v2, or v1 where only that is offered) and asks the compositor to treat it as a
// child of that toplevel, so that it floats above it as a dialog does. Qt has no call for this:
// the request goes on Qt's own Wayland connection, for the window's own surface.

#include <QString>

class QWindow;

namespace tarvo {

// Makes a shown window the child of the toplevel behind exported_handle. Returns false, and does
// nothing, off Wayland, without an importer, for a window not shown, or for a handle the
// compositor does not know (the window then stays a toplevel of its own). The relationship lasts
// as long as the window; calling again after the window was hidden and shown sets it again.
bool set_foreign_parent(QWindow& window, const QString& exported_handle);

}  // namespace tarvo
