#include "tablet/qt_tablet_adapter.h"

#include <QGuiApplication>
#include <QPointingDevice>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace tarvo {

ScreenGeometry screen_geometry(const QWidget& client) {
  ScreenGeometry g;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    g.screen_width = screen->geometry().width();
    g.screen_height = screen->geometry().height();
  }
  const QPoint origin = client.mapToGlobal(QPoint(0, 0));
  g.client_origin_x = origin.x();
  g.client_origin_y = origin.y();
  return g;
}

namespace {

int32_t to_counts(double pixels, int32_t screen_pixels) {
  if (screen_pixels <= 0 || !std::isfinite(pixels)) return 0;
  const double counts = pixels / screen_pixels * QtTabletDevice::kExtent;
  return static_cast<int32_t>(std::clamp(std::nearbyint(counts), 0.0, double(QtTabletDevice::kExtent)));
}

int32_t tenths(double degrees) {
  if (!std::isfinite(degrees)) return 0;
  return static_cast<int32_t>(std::clamp(std::nearbyint(degrees * 10), -3600.0, 3600.0));
}

}  // namespace

TabletPacket packet_from_event(const QTabletEvent& event, const ScreenGeometry& screen) {
  TabletPacket p;
  // The mapping subtracts half a pixel, as for a tablet whose counts address pixel corners; adding
  // it here puts the pen exactly where Qt says it is.
  const QPointF global = event.globalPosition() + QPointF(0.5, 0.5);
  p.X = to_counts(global.x(), screen.screen_width);
  p.Y = to_counts(screen.screen_height - global.y(), screen.screen_height);
  const double pressure = std::clamp(event.pressure(), 0.0, 1.0);
  p.Pressure = static_cast<int32_t>(std::nearbyint(pressure * QtTabletDevice::kMaximumPressure));
  // Tilt gives the pen's lean from upright; altitude is its angle above the tablet.
  const double x_tilt = event.xTilt(), y_tilt = event.yTilt();
  const double lean = std::min(90.0, std::hypot(x_tilt, y_tilt));
  double altitude = 90.0 - lean;
  if (event.pointerType() == QPointingDevice::PointerType::Eraser) altitude = -std::max(altitude, 1.0);
  p.Altitude = tenths(altitude);
  double azimuth = std::atan2(x_tilt, -y_tilt) * 180.0 / M_PI;
  if (azimuth < 0) azimuth += 360.0;
  p.Azimuth = tenths(azimuth);
  p.Twist = tenths(event.rotation());
  return p;
}

}  // namespace tarvo
