#include "canvas/qt_form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTabletEvent>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "app/exchange.h"
#include "app/qt_app_icon.h"
#include "canvas/display_surface.h"
#include "canvas/qt_canvas_area.h"
#include "canvas/qt_input_codes.h"
#include "canvas/qt_wayland_parent.h"
#include "canvas/qt_window_placement.h"
#include "canvas/view_navigation.h"
#include "stroke/stroke_capture.h"

namespace tarvo {

Form1::Form1(Program& program, const Presence& presence) : program_(program), presence_(presence) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAttribute(Qt::WA_AlwaysShowToolTips);
  setWindowIcon(tarvo_icon());
  QMenu* options = menuBar()->addMenu(QStringLiteral("Options"));
  options->setObjectName(QStringLiteral("OptionsMenu"));
  QAction* get_paper = options->addAction(QStringLiteral("Get paper"));
  get_paper->setObjectName(QStringLiteral("GetPaperMenu"));
  connect(get_paper, &QAction::triggered, this, [this] { GetPaperMenu_Click(); });
  // The tools panel's close box only hides it; this brings it back.
  QAction* show_tools = options->addAction(QStringLiteral("Show tools panel"));
  show_tools->setObjectName(QStringLiteral("ShowToolsMenu"));
  connect(show_tools, &QAction::triggered, this, [this] { show_panel_again(); });
  make_timelapse_ = options->addAction(QStringLiteral("Make time-lapse..."));
  make_timelapse_->setObjectName(QStringLiteral("MakeTimelapseMenu"));
  make_timelapse_->setVisible(false);
  connect(make_timelapse_, &QAction::triggered, this, [this] {
    if (on_make_timelapse_) on_make_timelapse_();
  });

  area_ = new CanvasArea(*this);
  setCentralWidget(area_);
  QPalette palette = area_->palette();
  palette.setColor(QPalette::Window, background_);
  area_->setPalette(palette);
  // Qt reports the pen coming near and leaving to the application, not to a window.
  qApp->installEventFilter(this);
  // The client area starts at 504 x 319 until the load sequence sizes it to the image.
  resize_client(504, 319);
}

Form1::~Form1() {
  qApp->removeEventFilter(this);
  if (program_.display.window == this) program_.display.window = nullptr;
  if (program_.tablet_device == &tablet_device_) program_.tablet_device = nullptr;
}

QWidget* Form1::canvas_area() const {
  return area_;
}

int32_t Form1::client_width() const {
  return retained_.width();
}
int32_t Form1::client_height() const {
  return retained_.height();
}
bool Form1::is_visible() const {
  return isVisible();
}

WindowState Form1::window_state() const {
  if (isMinimized()) return WindowState::Minimized;
  if (isMaximized() || isFullScreen()) return WindowState::Maximized;
  return WindowState::Normal;
}

void Form1::set_caption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void Form1::fill_box(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int left = static_cast<int>(std::max<int64_t>(0, std::min(x1, x2)));
  const int top = static_cast<int>(std::max<int64_t>(0, std::min(y1, y2)));
  const int right = static_cast<int>(std::min<int64_t>(retained_.width() - 1, std::max(x1, x2)));
  const int bottom = static_cast<int>(std::min<int64_t>(retained_.height() - 1, std::max(y1, y2)));
  if (left > right || top > bottom) return;
  const uint32_t colour = background_.rgb();
  for (int y = top; y <= bottom; ++y) {
    auto* line = reinterpret_cast<uint32_t*>(retained_.scanLine(y));
    std::fill(line + left, line + right + 1, colour);
  }
  update_client(left, top, right - left + 1, bottom - top + 1);
}

ClientPixels Form1::client_pixels() {
  if (retained_.isNull()) return {};
  // bits() detaches the image from any copy handed out, so a blit never writes into a copy.
  return {reinterpret_cast<uint32_t*>(retained_.bits()), retained_.bytesPerLine() / 4};
}

void Form1::client_pixels_changed(int32_t x, int32_t y, int32_t width, int32_t height) {
  // Every call follows a blit of the image's own values into exactly this rectangle: an image
  // with a colour profile is converted here, for the eye alone.
  if (!display_colour_asked_ && program_.HostApp) {
    display_colour_asked_ = true;
    const std::string icc = program_.HostApp->colour_profile();
    display_colour_ =
        DisplayColour::from_profile(QByteArray(icc.data(), static_cast<qsizetype>(icc.size())));
  }
  if (display_colour_) {
    for (int32_t row = y; row < y + height; ++row) {
      display_colour_->convert(reinterpret_cast<uint32_t*>(retained_.scanLine(row)) + x, width);
    }
  }
  update_client(x, y, width, height);
}

qreal Form1::device_ratio() const {
  return area_->devicePixelRatioF();
}

void Form1::update_client(int32_t x, int32_t y, int32_t width, int32_t height) {
  // Client pixels are device pixels; Qt repaints in its own, which may be larger.
  const qreal r = device_ratio();
  const int left = static_cast<int>(std::floor(x / r)), top = static_cast<int>(std::floor(y / r));
  const int right = static_cast<int>(std::ceil((int64_t{x} + width) / r));
  const int bottom = static_cast<int>(std::ceil((int64_t{y} + height) / r));
  area_->update(QRect(left, top, right - left, bottom - top));
}

void Form1::set_pointer(PointerShape shape) {
  switch (shape) {
    case PointerShape::Default:
      area_->unsetCursor();
      break;
    case PointerShape::Arrow:
      area_->setCursor(Qt::ArrowCursor);
      break;
    case PointerShape::Crosshair:
      area_->setCursor(Qt::CrossCursor);
      break;
    case PointerShape::SizeAll:
      area_->setCursor(Qt::SizeAllCursor);
      break;
  }
}

void Form1::resize_client(int32_t width, int32_t height) {
  // The size is in device pixels; the window is sized in Qt's own, as near as they allow.
  const qreal r = device_ratio();
  const int menu = menuBar()->sizeHint().height();
  const QSize wanted(std::max(1, static_cast<int>(std::lround(std::max(1, width) / r))),
                     std::max(1, static_cast<int>(std::lround(std::max(1, height) / r))));
  // On a screen someone looks at, a client larger than the screen allows is cut to what it holds
  // (the view keeps its zoom). Without one (offscreen, or a replay, whose recorded sizes must be
  // kept to paint the same pixels), the client takes the size asked for.
  QMargins frame = frame_margins(*this);
  frame.setTop(frame.top() + menu);
  const QRect area = placement_area();
  const bool looking = presence_.someone_looking;
  const QSize client = looking ? fit_window_size(wanted, frame, area) : wanted;
  // The window keeps its menu bar above the client area; only the client takes the new size.
  resize(client.width(), client.height() + menu);
  if (looking && host_area_ && !placed_over_host_) {
    move(area.topLeft());
    placed_over_host_ = true;
  } else if (client != wanted) {
    const QRect outer(pos(), client.grownBy(frame));
    move(keep_inside(outer, area));
  }
  client_resized(client);
}

// Where the work area has room for the canvas and the panel side by side, the canvas is placed so
// that the pair is centred and the panel, placed to its right, covers none of the image. A window
// system that places windows itself (Wayland) ignores the position.
void Form1::leave_room_for_panel() {
  const QWidget* panel = dynamic_cast<const QWidget*>(program_.panel);
  if (!panel) return;
  const QRect area = placement_area();
  QMargins frame = frame_margins(*this);
  const QSize outer = size().grownBy(frame);
  const int panel_width = panel->size().grownBy(frame_margins(*panel)).width();
  const int together = outer.width() + kPanelGap + panel_width;
  if (together > area.width()) return;
  const int x = area.x() + (area.width() - together) / 2;
  const int y = area.y() + std::max(0, (area.height() - outer.height()) / 2);
  move(x, y);
}

QRect Form1::placement_area() const {
  return host_area_ ? *host_area_ : available_area(*this);
}

void Form1::attach_to_host() {
  if (host_window_id_ == 0 || host_area_ || !presence_.someone_looking) return;
  std::optional<QPoint> origin = foreign_window_origin(host_window_id_);
  if (!origin) return;  // gone, or not a window on this display
  // The canvas opens over the host's image, past its docks, and below its menu bar and tabs.
  *origin += QPoint(host_image_offset_.x(), std::max(0, host_image_offset_.y() - kHostMenuBarRoom));
  const QWidget* panel = dynamic_cast<const QWidget*>(program_.panel);
  const int panel_width = panel ? panel->size().grownBy(frame_margins(*panel)).width() : 0;
  const QScreen* screen = QGuiApplication::screenAt(*origin);
  const QRect area = screen ? screen->availableGeometry() : available_area(*this);
  host_area_ = area_over_host(*origin, area, panel_width + kPanelGap);
}

void Form1::show_panel_again() {
  if (program_.panel) program_.panel->show_panel();
}

QSize Form1::device_client_size(QSize logical) const {
  const qreal r = device_ratio();
  return QSize(static_cast<int>(std::lround(logical.width() * r)),
               static_cast<int>(std::lround(logical.height() * r)));
}

void Form1::client_resized(QSize logical) {
  if (logical.isEmpty()) return;
  const qreal r = device_ratio();
  const QSize size = device_client_size(logical);
  if (size == retained_.size() && retained_.devicePixelRatio() == r) return;
  QImage fresh(size, QImage::Format_RGB32);
  fresh.setDevicePixelRatio(r);
  fresh.fill(background_);
  retained_ = std::move(fresh);
  if (loaded_)
    displaybuffers(program_.display, program_.size(), program_.canvas.RBuffer,
                   program_.canvas.GBuffer, program_.canvas.BBuffer);
  area_->update();
}

void Form1::paint_client(QPainter& painter, const QRect& rect) const {
  // The retained image holds device pixels: one of them lands on each screen pixel.
  const qreal r = retained_.devicePixelRatio();
  painter.drawImage(QRectF(rect), retained_,
                    QRectF(rect.x() * r, rect.y() * r, rect.width() * r, rect.height() * r));
}

void Form1::show_window() {
  attach_to_host();
  if (!loaded_) Form_Load();
  if (presence_.someone_looking && !host_area_ && !isVisible()) leave_room_for_panel();
  show();
  // Qt clears the transient hint of an ordinary window as it maps it: it is set once mapped.
  if (host_area_) set_transient_for_foreign(*this, host_window_id_);
  if (presence_.someone_looking) set_foreign_parent(*windowHandle(), host_wayland_handle_);
  keep_frame_in_area(*this, placement_area(), presence_);
  area_->setFocus();
}

bool Form1::ask_yes_no(const std::string& text) {
  // With no one to answer (a replay, or no display), the answer is No: nothing is discarded.
  if (!presence_.someone_looking) return false;
  // The stored text breaks its lines with a carriage return alone; the box shows it as a new line.
  QString shown = QString::fromStdString(text);
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), shown,
                  QMessageBox::Yes | QMessageBox::No, this);
  // No is the default, so that Enter never discards the user's work.
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void Form1::Form_Load() {
  set_caption(program_.display.AppTitle);
  allocate_stroke_points(program_.stroke);
  resize_client(program_.canvas.BufferWidth, program_.canvas.BufferHeight);
  if (program_.panel) {
    program_.panel->show_panel();
    program_.panel->copy_brush_sliders(program_.brush);
  }
  loaded_ = true;
  displaybuffers(program_.display, program_.size(), program_.canvas.RBuffer,
                 program_.canvas.GBuffer, program_.canvas.BBuffer);
  reset_tablet_state(program_.tablet);
  program_.tablet_device = tablet_allowed_ ? &tablet_device_ : nullptr;
  open_tablet(program_.tablet, program_.tablet_device, static_cast<uintptr_t>(winId()));
}

void Form1::Form_Paint() {
  BlitPlanes(program_.display, program_.size(), program_.canvas.RBuffer, program_.canvas.GBuffer,
             program_.canvas.BBuffer, 0, 0, program_.canvas.BufferWidth - 1,
             program_.canvas.BufferHeight - 1);
}

void Form1::GetPaperMenu_Click() {
  menu_get_paper();
}

void Form1::mouse_down(int16_t button, int16_t shift, float x, float y) {
  if (sink_) sink_->record(Verb::Form_MouseDown, {double(button), double(shift), x, y});
  if (!program_.stroke.MouseIsDown) last_pointer_.button = button;
  last_pointer_.x = x;
  last_pointer_.y = y;
  Form_MouseDown(program_, button, shift, x, y);
}

void Form1::mouse_move(int16_t button, int16_t shift, float x, float y) {
  if (sink_) sink_->record(Verb::Form_MouseMove, {double(button), double(shift), x, y});
  last_pointer_.x = x;
  last_pointer_.y = y;
  Form_MouseMove(program_, button, shift, x, y);
}

void Form1::mouse_up(int16_t button, int16_t shift, float x, float y) {
  if (sink_) sink_->record(Verb::Form_MouseUp, {double(button), double(shift), x, y});
  const uint64_t commits = program_.stroke.commits;
  Form_MouseUp(program_, button, shift, x, y);
  if (after_commit_ && program_.stroke.commits != commits) after_commit_();
}

void Form1::end_drag() {
  if (!program_.stroke.MouseIsDown) return;
  mouse_up(last_pointer_.button, 0, last_pointer_.x, last_pointer_.y);
}

void Form1::key_down(int16_t key_code, int16_t shift) {
  if (sink_) sink_->record(Verb::Form_KeyDown, {double(key_code), double(shift)});
  Form_KeyDown(program_, key_code, shift);
}

void Form1::key_up(int16_t key_code, int16_t shift) {
  if (sink_) sink_->record(Verb::Form_KeyUp, {double(key_code), double(shift)});
  Form_KeyUp(program_, key_code, shift);
}

void Form1::key_press(int16_t key_ascii) {
  if (sink_) sink_->record(Verb::Form_KeyPress, {double(key_ascii)});
  Form_KeyPress(program_, key_ascii);
}

void Form1::mouse_wheel(int16_t shift, float x, float y, float delta_x, float delta_y) {
  if (sink_) sink_->record(Verb::Form_MouseWheel, {double(shift), x, y, delta_x, delta_y});
  Form_MouseWheel(program_, shift, x, y, delta_x, delta_y);
}

void Form1::menu_get_paper() {
  if (sink_) sink_->record(Verb::GetPaperMenu_Click, {});
  get_paper(program_);
}

void Form1::tablet_packet(const TabletPacket& packet, int32_t maximum_pressure) {
  const ScreenGeometry screen = script_screen_ ? *script_screen_ : screen_geometry(*area_);
  if (sink_) {
    const ScreenGeometry& s = screen;
    if (!recorded_screen_ || recorded_screen_->screen_width != s.screen_width ||
        recorded_screen_->screen_height != s.screen_height ||
        recorded_screen_->client_origin_x != s.client_origin_x ||
        recorded_screen_->client_origin_y != s.client_origin_y) {
      sink_->record(Verb::Tablet_Screen, {double(s.screen_width), double(s.screen_height),
                                          double(s.client_origin_x), double(s.client_origin_y)});
      recorded_screen_ = s;
    }
    sink_->record(
        Verb::Tablet_PacketArrival,
        {double(packet.X), double(packet.Y), double(packet.Pressure), double(maximum_pressure),
         double(packet.Azimuth), double(packet.Altitude), double(packet.Twist)});
  }
  if (!program_.tablet.TabletOn) return;
  Tablet_PacketArrival(program_.tablet, packet, screen, maximum_pressure);
}

void Form1::pen_event(PenAction action, const TabletPacket& packet, int16_t button, int16_t shift,
                      float x, float y) {
  tablet_packet(packet, QtTabletDevice::kMaximumPressure);
  // Proximity is a hint, never needed to paint: where the platform has not reported the pen near,
  // it is near for its own event only, so its pressure counts and a later mouse event still takes
  // the mouse's position.
  const bool hinted = program_.tablet.TabletOn && !program_.tablet.PenInProximity;
  if (hinted) tablet_proximity(-1);
  switch (action) {
    case PenAction::Down:
      mouse_down(button, shift, x, y);
      break;
    case PenAction::Move:
      mouse_move(button, shift, x, y);
      break;
    case PenAction::Up:
      mouse_up(button, shift, x, y);
      break;
  }
  if (hinted) tablet_proximity(0);
}

void Form1::tablet_proximity(int16_t is_in_context) {
  if (sink_) sink_->record(Verb::Tablet_ProximityChange, {double(is_in_context)});
  Tablet_ProximityChange(program_.tablet, is_in_context);
}

void Form1::set_make_timelapse(std::function<void()> make) {
  on_make_timelapse_ = std::move(make);
  make_timelapse_->setVisible(static_cast<bool>(on_make_timelapse_));
}

void Form1::tablet_screen(const ScreenGeometry& screen) {
  script_screen_ = screen;
}

void Form1::restore_view(float zoom, int32_t pan_x, int32_t pan_y) {
  if (sink_) sink_->record(Verb::Form_View, {zoom, double(pan_x), double(pan_y)});
  set_view(program_, zoom, pan_x, pan_y);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::TabletEnterProximity) tablet_proximity(-1);
  if (event->type() == QEvent::TabletLeaveProximity) tablet_proximity(0);
  if (watched->isWindowType() && event->isSinglePointEvent()) {
    const auto* e = static_cast<const QSinglePointEvent*>(event);
    window_pointer_ = WindowPointer{e->timestamp(), e->globalPosition()};
  }
  return QMainWindow::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
  end_drag();
  if (sink_) sink_->record(Verb::Form_Unload, {});
  bool cancel = false;
  Form_Unload(program_, cancel);
  if (cancel) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace tarvo
