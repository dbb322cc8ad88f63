#include "panel/qt_form2.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "app/qt_app_icon.h"
#include "app/qt_application.h"
#include "appearance/qt_draw_pattern.h"
#include "appearance/qt_theme.h"
#include "canvas/qt_window_placement.h"
#include "panel/presets.h"
#include "panel/qt_form2_layout.h"
#include "panel/qt_hprop.h"
#include "panel/qt_kv_button.h"
#include "panel/qt_menus.h"
#include "panel/qt_packed_colour.h"
#include "panel/qt_picture_box.h"

namespace tarvo {

namespace layout = panel_layout;

namespace {

// How long after the panel first gets the keyboard it hands it back to the canvas.
constexpr int kFocusReturnMilliseconds = 50;
// The labels' text: light, to read over the grey background and the wallpaper alike.
const QColor kLabelColour(240, 240, 240);

// Arial 8.25 pt, or the closest sans-serif face the system has.
QFont panel_font() {
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  return font;
}

// The font narrowed, where the face allows it, until every word of text fits width pixels: a
// system without Arial may have only a wider face.
QFont font_fitting_words(QFont font, const QString& text, int width) {
  const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  for (const int stretch : {QFont::Unstretched, QFont::SemiCondensed, QFont::Condensed}) {
    font.setStretch(stretch);
    const QFontMetrics metrics(font);
    bool fits = true;
    for (const QString& word : words) fits = fits && metrics.horizontalAdvance(word) <= width;
    if (fits) break;
  }
  return font;
}

// The tool tip of a button: the design's, with the host named as the user knows it and the keys
// that do the same from the canvas.
QString button_tip(const layout::ButtonSpec& spec, const std::string& host) {
  std::string tip(spec.tip);
  if (spec.n == 3) tip = "Get image from " + host;
  if (spec.n == 4) tip = "Send image to " + host;
  const std::string_view keys = layout::keys_of_button(spec.n);
  if (!keys.empty()) tip.append(" (").append(keys).append(")");
  return layout::to_qstring(tip);
}

}  // namespace

// A tool window with a title and a close box; the close box hides the panel, and the canvas's
// "Options" menu shows it again.
Form2::Form2(Program& program, QWidget* owner, const Presence& presence)
    : QWidget(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      program_(program),
      presence_(presence) {
  setObjectName(QStringLiteral("Form2"));
  // The buttons explain themselves while the user works in another window (GIMP's, say).
  setAttribute(Qt::WA_AlwaysShowToolTips);
  setWindowTitle(QStringLiteral("Tarvo Tools"));
  setWindowIcon(tarvo_icon());
  setFixedSize(kClientWidth, kClientHeight);
  setFont(panel_font());
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, to_qcolor(layout::kPanelBackColor));
  setPalette(palette);
  setAutoFillBackground(true);
  build_buttons();
  build_sliders();
  build_pictures();
  build_labels();
  if (owner) owner->installEventFilter(this);
}

Form2::~Form2() {
  if (program_.panel == this) program_.panel = nullptr;
  delete menus_;
}

void Form2::build_buttons() {
  const std::string host = program_.HostApp ? program_.HostApp->host_name() : "Wickamber";
  for (const layout::ButtonSpec& spec : layout::kButtons) {
    auto* b = new kv_button(this);
    b->setObjectName(layout::to_qstring("kv_button" + std::to_string(spec.n)));
    b->setGeometry(spec.left, spec.top, spec.width, spec.height);
    if (!spec.tip.empty()) b->setToolTip(button_tip(spec, host));
    if (spec.icon) b->set_picture(panel_icon(*spec.icon, devicePixelRatioF()));
    b->set_button_type(spec.button_type);
    b->set_mousepointer(spec.mousepointer);
    if (spec.backcolor) b->set_backcolor(*spec.backcolor);
    if (spec.gradient) b->set_gradient(*spec.gradient);
    b->set_caption(layout::to_qstring(spec.caption));
    b->set_tag(layout::to_qstring(spec.tag));
    buttons_[spec.n] = b;
    connect_button(spec.n);
  }
  buttons_[8]->set_value(true);
}

// Presets react to the press, the pan and zoom buttons to press, move and release, the others to
// the click. The two swatches have no action.
void Form2::connect_button(int n) {
  kv_button* b = buttons_[n];
  if (preset_for_button(n)) {
    connect(b, &kv_button::MouseDown, this, [this, n](int button, int shift, float x, float y) {
      button_mouse_down(n, static_cast<int16_t>(button), static_cast<int16_t>(shift), x, y);
    });
  }
  if (layout::is_navigation_button(n)) {
    // The pan and zoom drags move the canvas's view, whose pixels are the screen's own: their
    // coordinates are given in screen pixels too, so that the image follows the pointer at any
    // screen scale.
    const auto on_screen = [this](float v) { return v * static_cast<float>(devicePixelRatioF()); };
    connect(b, &kv_button::MouseDown, this,
            [this, n, on_screen](int button, int shift, float x, float y) {
              button_mouse_down(n, static_cast<int16_t>(button), static_cast<int16_t>(shift),
                                on_screen(x), on_screen(y));
            });
    connect(b, &kv_button::MouseMove, this,
            [this, n, on_screen](int button, int shift, float x, float y) {
              button_mouse_move(n, static_cast<int16_t>(button), static_cast<int16_t>(shift),
                                on_screen(x), on_screen(y));
            });
    connect(b, &kv_button::MouseUp, this,
            [this, n, on_screen](int button, int shift, float x, float y) {
              button_mouse_up(n, static_cast<int16_t>(button), static_cast<int16_t>(shift),
                              on_screen(x), on_screen(y));
            });
  }
  if (n != 5 && n != 10 && !preset_for_button(n) && !layout::is_navigation_button(n)) {
    connect(b, &kv_button::Click, this, [this, n] { button_click(n); });
  }
}

void Form2::build_sliders() {
  for (const layout::SliderSpec& spec : layout::kSliders) {
    auto* s = new HProp(this);
    s->setObjectName(layout::to_qstring("HProp" + std::to_string(spec.n)));
    s->setGeometry(layout::kSliderLeft, spec.top, layout::kSliderWidth, layout::kSliderHeight);
    s->set_backcolor(layout::kSliderBackColor);
    s->set_forecolor(layout::kSliderForeColor);
    if (spec.min) s->set_min(*spec.min);
    if (spec.max) s->set_max(*spec.max);
    // The design values are in place before any handler is connected: they raise no Change.
    if (spec.value) s->set_value(*spec.value);
    const int n = spec.n;
    s->set_input_handler([this, n](int16_t value) { slider_input(n, value); });
    connect(s, &HProp::Change, this, [this, n] { HProp_Change(n); });
    sliders_[n] = s;
  }
}

void Form2::build_pictures() {
  const QColor black = to_qcolor(layout::kPictureBackColor);
  auto make = [&](const char* name, const layout::BoxSpec& spec) {
    auto* box = new PictureBox(this, black);
    box->setObjectName(QLatin1String(name));
    box->place(spec.left, spec.top, spec.width, spec.height);
    return box;
  };
  picker_ = make("Picker", layout::kPicker);
  mask_ = make("Picture2", layout::kPicture2);
  mask_->hide();
  hue_strip_ = make("Picture1", layout::kPicture1);
  connect(picker_, &PictureBox::MouseMove, this, [this](int b, int s, float x, float y) {
    picker_mouse_move(static_cast<int16_t>(b), static_cast<int16_t>(s), x, y);
  });
  connect(hue_strip_, &PictureBox::MouseMove, this, [this](int b, int s, float x, float y) {
    hue_mouse_move(static_cast<int16_t>(b), static_cast<int16_t>(s), x, y);
  });
}

void Form2::build_labels() {
  for (const layout::LabelSpec& spec : layout::kLabels) {
    auto* label = new QLabel(layout::to_qstring(spec.text), this);
    label->setObjectName(layout::to_qstring(spec.name));
    label->setGeometry(layout::kLabelLeft, spec.top, layout::kLabelWidth, spec.height);
    const bool two_lines = spec.height > layout::kLabelLineHeight;
    label->setWordWrap(two_lines);
    label->setAlignment(Qt::AlignLeft | (two_lines ? Qt::AlignTop : Qt::AlignVCenter));
    label->setFont(font_fitting_words(font(), label->text(), layout::kLabelWidth));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kLabelColour);
    label->setPalette(palette);
  }
}

kv_button* Form2::button(int n) const {
  return n >= 1 && n <= kButtonCount ? buttons_[n] : nullptr;
}

HProp* Form2::slider(int n) const {
  return n >= 1 && n <= kSliderCount ? sliders_[n] : nullptr;
}

bool Form2::preset_pressed(int n) const {
  const kv_button* b = button(n);
  return b && b->value();
}

int16_t Form2::slider_value(int n) const {
  const HProp* s = slider(n);
  return s ? s->value() : 0;
}

// ---- Loading, showing, unloading ---------------------------------------------------------------

void Form2::ensure_loaded() {
  if (!loaded_) Form_Load();
}

// The order matters: the theme comes before any colour is set from code, the swatch and the mask
// need nothing, the strip and the triangle are drawn last, and GetHSV is not called, so the hue
// globals keep their start values until a colour slider moves.
void Form2::Form_Load() {
  loaded_ = true;
  apply_theme(*this, read_theme_settings(), kLabelColour);
  SetColor();
  draw_mask();
  load_wallpaper();
  Picture1_Paint();
  draw_triangle();
}

// Any failure leaves the panel without a wallpaper, silently: no host, an empty or wrong path, or
// a file that is not a picture.
void Form2::load_wallpaper() {
  wallpaper_ = QImage();
  try {
    if (!program_.HostApp) return;
    const std::string path = program_.HostApp->Wik_WallpaperFilename();
    if (path.empty()) return;
    QImage picture(QString::fromStdString(path));
    if (!picture.isNull()) wallpaper_ = std::move(picture);
  } catch (const std::exception&) {
  }
}

void Form2::show_panel() {
  ensure_loaded();
  // A window manager takes the panel as the canvas's only when the canvas is mapped first: the
  // panel waits for it.
  if (parentWidget() && !parentWidget()->isVisible() && presence_.someone_looking) {
    show_when_owner_shows_ = true;
    return;
  }
  // Placed before its window exists, the panel's position is its frame's, title bar included.
  const bool first = !placed_;
  if (first) place_beside_owner();
  // Placed before the canvas is shown, the panel moves beside it again once it is.
  placed_ = !parentWidget() || parentWidget()->isVisible();
  // Transient for the canvas, so that every window manager keeps the panel above it. The canvas's
  // window may not exist yet when the panel is first made: Qt then sets no transient parent.
  // Only the windows themselves are created: asking a window with a parent widget for its native
  // handle (winId) would make every child of the canvas a native window too, which Wayland turns
  // into subsurfaces that the canvas's drawing never reaches.
  if (QWidget* owner = parentWidget()) {
    owner->window()->createWinId();
    create();
    windowHandle()->setTransientParent(owner->window()->windowHandle());
  }
  // The canvas keeps the keyboard: the panel is a tool beside it, not where typing goes. Where
  // the window system gives a new window the focus all the same (a Wayland compositor does), the
  // panel hands it back the first time it gets it.
  setAttribute(Qt::WA_ShowWithoutActivating);
  return_focus_ = first;
  show();
  if (first) keep_frame_in_area(*this, available_area(*this), presence_);
}

// To the right of the canvas's frame, top edges level, where the screen has room for it; else
// where it can be seen (panel_position).
void Form2::place_beside_owner() {
  const QWidget* owner = parentWidget();
  if (!owner) return;
  const QSize frame = size().grownBy(frame_margins(*this));
  move(panel_position(owner->frameGeometry(), frame, available_area(*owner), kPanelGap));
}

void Form2::unload_panel() {
  show_when_owner_shows_ = false;
  delete menus_;
  hide();
}

void Form2::copy_brush_sliders(BrushSettings& brush) {
  ensure_loaded();
  brush.PenPress = sliders_[8]->value();
  brush.BrushSize = static_cast<float>(sliders_[1]->value()) * program_.brush_scale;
  brush.Opacity = sliders_[5]->value();
  brush.StepPercent = sliders_[6]->value();
}

void Form2::set_colour_sliders(uint8_t red, uint8_t green, uint8_t blue) {
  ensure_loaded();
  sliders_[2]->set_value(red);
  sliders_[3]->set_value(green);
  sliders_[4]->set_value(blue);
}

void Form2::redraw_triangle() {
  ensure_loaded();
  draw_triangle();
}

Menus& Form2::ensure_menus() {
  if (!menus_) {
    menus_ = new Menus(this);
    connect(menus_, &Menus::item_chosen, this, [this](std::size_t i) { mode_menu_click(i); });
  }
  return *menus_;
}

// The triangle box is painted when the window system first shows it; until then its surface holds
// only the triangle.
void Form2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Picker_Paint();
}

// The panel lives as long as the canvas: its close box only hides it, and the canvas's "Options"
// menu shows it again. The canvas's close sequence unloads it.
void Form2::closeEvent(QCloseEvent* event) {
  event->accept();
}

bool Form2::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && std::exchange(return_focus_, false)) {
    // After the activation requests that showing the panel makes, which would otherwise win.
    QTimer::singleShot(kFocusReturnMilliseconds, this, [this] {
      if (QWidget* owner = parentWidget(); owner && owner->isVisible()) owner->activateWindow();
    });
  }
  return QWidget::event(event);
}

// The canvas is placed by the time it is first shown: the panel then moves beside it.
bool Form2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Show) {
    if (show_when_owner_shows_) {
      // Qt tells of the show before it maps the window: the panel follows once it has.
      show_when_owner_shows_ = false;
      QTimer::singleShot(0, this, [this] { show_panel(); });
    } else if (!placed_) {
      place_beside_owner();
      placed_ = true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Form2::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Draw_Pattern(painter, wallpaper_, rect());
  for (const int top : layout::kSeparatorTops) {
    painter.setPen(to_qcolor(layout::kSeparatorDark));
    const int right = std::max(layout::kSeparatorRight, width());
    painter.drawLine(0, top, right, top);
    painter.setPen(to_qcolor(layout::kSeparatorLight));
    painter.drawLine(0, top + 2, right, top + 2);
  }
}

}  // namespace tarvo
