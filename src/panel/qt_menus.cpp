#include "panel/qt_menus.h"

namespace tarvo {

Menus::Menus(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Menus"));
  setWindowTitle(QStringLiteral("Form3"));
  mode_menu_ = new QMenu(QStringLiteral("Mode"), this);
  mode_menu_->setObjectName(QStringLiteral("ModeMenu"));
  for (std::size_t i = 0; i < kModeMenuItems.size(); ++i) {
    const ModeMenuItem& mode = kModeMenuItems[i];
    QAction* action = mode_menu_->addAction(
        QString::fromUtf8(mode.menu_caption.data(), static_cast<int>(mode.menu_caption.size())));
    action->setObjectName(QString::fromUtf8(mode.name.data(), static_cast<int>(mode.name.size())));
    connect(action, &QAction::triggered, this, [this, i] { emit item_chosen(i); });
    items_[i] = action;
  }
}

}  // namespace tarvo
