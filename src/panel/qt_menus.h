#pragma once
// Menus, the hidden window that carries the blend-mode pop-up menu. It is never shown; its one
// menu, ModeMenu ("Mode"), holds one item a blend mode in the order of kModeMenuItems, each named
// after its item (ModeDefault ... ModeXor), without separators, checks or shortcuts.

#include <QMenu>
#include <QWidget>
#include <array>
#include <cstddef>

#include "panel/blend_modes.h"

namespace tarvo {

class Menus : public QWidget {
  Q_OBJECT

 public:
  explicit Menus(QWidget* parent = nullptr);

  QMenu* ModeMenu() const { return mode_menu_; }
  // The item at menu position i (0 for "Default").
  QAction* item(std::size_t i) const { return items_.at(i); }

 signals:
  // An item was chosen; i is its menu position.
  void item_chosen(std::size_t i);

 private:
  QMenu* mode_menu_ = nullptr;
  std::array<QAction*, kModeMenuItems.size()> items_{};
};

}  // namespace tarvo
