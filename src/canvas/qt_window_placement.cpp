#include "canvas/qt_window_placement.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

namespace tarvo {

QSize fit_window_size(QSize wanted, const QMargins& frame, const QRect& available) {
  const int width = available.width() - frame.left() - frame.right();
  const int height = available.height() - frame.top() - frame.bottom();
  return QSize(std::max(1, std::min(wanted.width(), width)),
               std::max(1, std::min(wanted.height(), height)));
}

namespace {

int keep_span_inside(int start, int length, int area_start, int area_length) {
  const int last_start = area_start + area_length - length;
  return std::max(area_start, std::min(start, last_start));
}

}  // namespace

QPoint keep_inside(const QRect& frame, const QRect& available) {
  return QPoint(keep_span_inside(frame.x(), frame.width(), available.x(), available.width()),
                keep_span_inside(frame.y(), frame.height(), available.y(), available.height()));
}

QPoint panel_position(const QRect& canvas_frame, QSize panel_frame, const QRect& available,
                      int gap) {
  const int right_of_canvas = canvas_frame.x() + canvas_frame.width() + gap;
  const int left_of_canvas = canvas_frame.x() - gap - panel_frame.width();
  const int area_right = available.x() + available.width();
  int x = area_right - panel_frame.width();
  if (right_of_canvas + panel_frame.width() <= area_right) {
    x = right_of_canvas;
  } else if (left_of_canvas >= available.x()) {
    x = left_of_canvas;
  }
  return keep_inside(QRect(QPoint(x, canvas_frame.y()), panel_frame), available);
}

QRect area_over_host(QPoint host_origin, const QRect& screen, int panel_room) {
  // The least room the canvas is given, however little of the screen the host leaves.
  constexpr int kLeastRoom = 240;
  QRect area = screen;
  area.setTop(std::clamp(host_origin.y() + kHostMenuBarRoom, screen.top(),
                         std::max(screen.top(), screen.bottom() - kLeastRoom)));
  area.setLeft(std::clamp(host_origin.x(), screen.left(),
                          std::max(screen.left(), screen.right() - kLeastRoom)));
  if (area.width() - panel_room >= kLeastRoom) area.setWidth(area.width() - panel_room);
  return area;
}

void keep_frame_in_area(QWidget& window, const QRect& area, const Presence& presence) {
  if (!presence.someone_looking) return;
  // The window manager frames a window shortly after it is mapped; give it two seconds.
  constexpr int kPollMilliseconds = 20, kPolls = 100;
  auto* poll = new QTimer(&window);
  poll->setInterval(kPollMilliseconds);
  QObject::connect(poll, &QTimer::timeout, &window, [&window, poll, area, polls = 0]() mutable {
    const bool framed = window.frameGeometry() != window.geometry();
    if (!framed && ++polls < kPolls) return;
    poll->stop();
    poll->deleteLater();
    if (!framed || window.isMaximized() || window.isFullScreen() || !window.isVisible()) return;
    QRect frame = window.frameGeometry();
    if (area.contains(frame)) return;
    // The frame came out larger than the margins guessed before it existed: a window that can
    // shrink gives up the excess, so that its whole frame fits.
    const QSize excess(std::max(0, frame.width() - area.width()),
                       std::max(0, frame.height() - area.height()));
    if (!excess.isNull() && window.minimumSize() != window.maximumSize()) {
      window.resize(window.size() - excess);
      frame.setSize(frame.size() - excess);
    }
    window.move(keep_inside(frame, area));
  });
  poll->start();
}

namespace {

xcb_connection_t* x11_connection() {
  const auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

}  // namespace

std::optional<QPoint> foreign_window_origin(quint64 id) {
  xcb_connection_t* c = x11_connection();
  if (c == nullptr || id == 0) return std::nullopt;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
      c, xcb_translate_coordinates(c, static_cast<xcb_window_t>(id), root, 0, 0), nullptr);
  if (reply == nullptr) return std::nullopt;
  const QPoint native(reply->dst_x, reply->dst_y);
  std::free(reply);
  const QScreen* screen = QGuiApplication::screenAt(native);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
  return QPoint(qRound(native.x() / ratio), qRound(native.y() / ratio));
}

void set_transient_for_foreign(QWidget& window, quint64 id) {
  xcb_connection_t* c = x11_connection();
  if (c == nullptr || id == 0) return;
  const auto host = static_cast<xcb_window_t>(id);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()),
                      XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &host);
  xcb_flush(c);
}

QRect available_area(const QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

QMargins frame_margins(const QWidget& window) {
  const QRect frame = window.frameGeometry(), inner = window.geometry();
  const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(),
                         frame.right() - inner.right(), frame.bottom() - inner.bottom());
  if (!margins.isNull() || window.isVisible()) return margins;
  // Not framed yet: assume a common title bar and border.
  return QMargins(4, 32, 4, 4);
}

}  // namespace tarvo
