#include "tablet/qt_tablet_adapter.h"

#include <QGuiApplication>
#include <QPointingDevice>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

// The whole virtual desktop (every screen, in Qt's device-independent pixels), which may start at
// negative coordinates when a screen lies left of or above the primary one.
QRect virtual_desktop() {
  const QScreen* primary = QGuiApplication::primaryScreen();
  return primary ? primary->virtualGeometry() : QRect();
}

}  // namespace

QPointF device_desktop_position(const QPointF& global, const QWidget& client) {
  return (global - QPointF(virtual_desktop().topLeft())) * client.devicePixelRatioF();
}

ScreenGeometry screen_geometry(const QWidget& client) {
  ScreenGeometry g;
  const QRect desktop = virtual_desktop();
  const qreal ratio = client.devicePixelRatioF();
  g.screen_width = static_cast<int32_t>(std::lround(desktop.width() * ratio));
  g.screen_height = static_cast<int32_t>(std::lround(desktop.height() * ratio));
  const QPointF origin = device_desktop_position(QPointF(client.mapToGlobal(QPoint(0, 0))), client);
  g.client_origin_x = static_cast<int32_t>(std::lround(origin.x()));
  g.client_origin_y = static_cast<int32_t>(std::lround(origin.y()));
  return g;
}

namespace {

int32_t to_counts(double pixels, int32_t screen_pixels) {
  if (screen_pixels <= 0 || !std::isfinite(pixels)) return 0;
  const double counts = pixels / screen_pixels * QtTabletDevice::kExtent;
  return static_cast<int32_t>(
      std::clamp(std::nearbyint(counts), 0.0, double(QtTabletDevice::kExtent)));
}

int32_t tenths(double degrees) {
  if (!std::isfinite(degrees)) return 0;
  return static_cast<int32_t>(std::clamp(std::nearbyint(degrees * 10), -3600.0, 3600.0));
}

}  // namespace

TabletPacket packet_from_event(const QTabletEvent& event, const ScreenGeometry& screen,
                               const QWidget& client) {
  TabletPacket p;
  // The mapping subtracts half a pixel, as for a tablet whose counts address pixel corners; adding
  // it here puts the pen exactly where Qt says it is.
  const QPointF global =
      device_desktop_position(event.globalPosition(), client) + QPointF(0.5, 0.5);
  p.X = to_counts(global.x(), screen.screen_width);
  p.Y = to_counts(screen.screen_height - global.y(), screen.screen_height);
  const double pressure = std::clamp(event.pressure(), 0.0, 1.0);
  p.Pressure = static_cast<int32_t>(std::nearbyint(pressure * QtTabletDevice::kMaximumPressure));
  // Tilt gives the pen's lean from upright; altitude is its angle above the tablet.
  const double x_tilt = event.xTilt(), y_tilt = event.yTilt();
  const double lean = std::min(90.0, std::hypot(x_tilt, y_tilt));
  double altitude = 90.0 - lean;
  if (event.pointerType() == QPointingDevice::PointerType::Eraser)
    altitude = -std::max(altitude, 1.0);
  p.Altitude = tenths(altitude);
  double azimuth = std::atan2(x_tilt, -y_tilt) * 180.0 / M_PI;
  if (azimuth < 0) azimuth += 360.0;
  p.Azimuth = tenths(azimuth);
  p.Twist = tenths(event.rotation());
  return p;
}

}  // namespace tarvo
