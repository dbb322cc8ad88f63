#pragma once
// Form1, the canvas window: shows the image through the display surface and takes the strokes, keys
// and the "Options" menu. It keeps the window's contents in a retained image of the client size:
// a copy from the surface touches only its rectangle and schedules a repaint of it, and paintEvent
// only draws from the retained image.
//
// The canvas's pixels are the screen's own (device pixels): the retained image, client sizes and
// positions and the pointer's coordinates, so zoom 1 shows one image pixel per screen pixel at any
// screen scale. Qt's device-independent pixels appear only where the window meets Qt's geometry.

#include <QImage>
#include <QKeyEvent>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "canvas/qt_display_colour.h"
#include "core/canvas_window.h"
#include "core/host_window.h"
#include "core/presence.h"
#include "core/program.h"
#include "script/event_sink.h"
#include "tablet/qt_tablet_adapter.h"

namespace tarvo {

class CanvasArea;

enum class PenAction { Down, Move, Up };

class Form1 : public QMainWindow, public CanvasWindow {
  Q_OBJECT

 public:
  // presence: whether someone looks at the window, which then fits the screen and may ask.
  explicit Form1(Program& program, const Presence& presence = Presence::nobody());
  ~Form1() override;

  // CanvasWindow
  int32_t client_width() const override;
  int32_t client_height() const override;
  bool is_visible() const override;
  WindowState window_state() const override;
  void set_caption(const std::string& caption) override;
  void fill_box(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override;
  ClientPixels client_pixels() override;
  void client_pixels_changed(int32_t x, int32_t y, int32_t width, int32_t height) override;
  void set_pointer(PointerShape shape) override;
  void resize_client(int32_t width, int32_t height) override;
  void show_window() override;
  bool ask_yes_no(const std::string& text) override;

  // The canvas load sequence; runs once, when the window is first shown.
  void Form_Load();
  // The canvas repaint: the whole committed image, no margins.
  void Form_Paint();
  void GetPaperMenu_Click();

  // Input entry points. Live Qt events and the event-script player both come through here, so a
  // replayed script takes exactly the path of the user's input. Each is reported to the event sink
  // first, when one is set.
  void mouse_down(int16_t button, int16_t shift, float x, float y);
  void mouse_move(int16_t button, int16_t shift, float x, float y);
  void mouse_up(int16_t button, int16_t shift, float x, float y);
  void key_down(int16_t key_code, int16_t shift);
  void key_up(int16_t key_code, int16_t shift);
  void key_press(int16_t key_ascii);
  // The wheel or a touchpad's scroll: wheel units, 120 a notch (Form_MouseWheel).
  void mouse_wheel(int16_t shift, float x, float y, float delta_x, float delta_y);
  void menu_get_paper();
  // A tablet packet, mapped with the screen geometry of the moment (or the one a script set).
  void tablet_packet(const TabletPacket& packet, int32_t maximum_pressure);
  void tablet_proximity(int16_t is_in_context);
  // A pen press, move or release: its packet, then the pointer handler with the same event's
  // button, modifiers and client position.
  void pen_event(PenAction action, const TabletPacket& packet, int16_t button, int16_t shift,
                 float x, float y);
  // Ends a drag still under way as its release at the last pointer position would (a stroke is
  // committed), through mouse_up so that the journal and a recording hold the release. Whatever
  // ends the program or closes the canvas does this first: a stroke on screen is part of the
  // painting. Does nothing when no button is held.
  void end_drag();
  // Puts the zoom and pan where they were (a session journal's prelude).
  void restore_view(float zoom, int32_t pan_x, int32_t pan_y);
  // Fixes the screen geometry that packets are mapped with, as when they were recorded.
  void tablet_screen(const ScreenGeometry& screen);
  // Maps packets with the live screen geometry again, after a script that fixed it.
  void forget_tablet_screen() { script_screen_.reset(); }
  // Without a tablet (--no-tablet) the set-up finds none and the mouse alone paints.
  void set_tablet_allowed(bool allowed) { tablet_allowed_ = allowed; }
  // The host's own window (empty: none). The canvas then stays above it: on X11 it also opens over
  // it, below the host's menu bar, leaving room for the tools panel beside it; on Wayland it is
  // the child of the host's toplevel, which the compositor places. Set before the canvas is shown.
  void set_host_window(const HostWindow& host) {
    host_window_id_ = host.x11_id;
    host_image_offset_ = QPoint(host.image_left, host.image_top);
    host_wayland_handle_ = QString::fromStdString(host.wayland_handle);
  }
  // What "Options" > "Make time-lapse..." does; the item shows only when there is one.
  void set_make_timelapse(std::function<void()> make);
  // Runs after each release that committed a stroke (the autosave's cue).
  void set_after_commit(std::function<void()> hook) { after_commit_ = std::move(hook); }
  void set_event_sink(EventSink* sink) { sink_ = sink; }
  EventSink* event_sink() const { return sink_; }
  Program& program() { return program_; }

  // A size in the window system's logical pixels as the canvas's own, device pixels.
  QSize device_client_size(QSize logical) const;
  // The window's retained contents, as the user sees them.
  const QImage& retained_image() const { return retained_; }
  QWidget* canvas_area() const;
  QColor background_colour() const { return background_; }
  bool loaded() const { return loaded_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class CanvasArea;
  // The client's logical size changed: the retained image takes it in device pixels.
  void client_resized(QSize logical);
  // Schedules the repaint of a rectangle of client (device) pixels.
  void update_client(int32_t x, int32_t y, int32_t width, int32_t height);
  qreal device_ratio() const;
  void paint_client(QPainter& painter, const QRect& rect) const;
  // Makes the canvas transient for the host's window and works out the area it opens in.
  void attach_to_host();
  // Where the canvas may lie: the screen's available area, or the part of it over the host.
  QRect placement_area() const;
  void leave_room_for_panel();
  void show_panel_again();

  Program& program_;
  const Presence& presence_;
  CanvasArea* area_ = nullptr;
  QImage retained_;
  // The conversion of the image's colours for display, asked of the host at the first blit; null
  // for an image in sRGB, which is shown as it is.
  std::unique_ptr<DisplayColour> display_colour_;
  bool display_colour_asked_ = false;
  QColor background_{192, 192, 192};
  bool loaded_ = false;
  EventSink* sink_ = nullptr;
  bool tablet_allowed_ = true;
  std::function<void()> after_commit_;
  QAction* make_timelapse_ = nullptr;
  std::function<void()> on_make_timelapse_;
  QtTabletDevice tablet_device_;
  // The button and client position of the last press or move, where end_drag releases.
  struct LastPointer {
    int16_t button = 1;
    float x = 0.0f, y = 0.0f;
  };
  LastPointer last_pointer_;
  std::optional<ScreenGeometry> script_screen_;
  std::optional<ScreenGeometry> recorded_screen_;
  // The pointer's global position as the window system gave it to the window, before Qt's widgets
  // rounded it to whole logical pixels; with the event's time, to tell which event it belongs to.
  struct WindowPointer {
    quint64 timestamp;
    QPointF global;
  };
  std::optional<WindowPointer> window_pointer_;
  quint64 host_window_id_ = 0;
  QPoint host_image_offset_;  // where the host's window shows its image
  QString host_wayland_handle_;
  std::optional<QRect> host_area_;
  bool placed_over_host_ = false;
};

}  // namespace tarvo
