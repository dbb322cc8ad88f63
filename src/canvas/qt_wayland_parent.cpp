#include "canvas/qt_wayland_parent.h"

#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <QByteArray>
#include <QGuiApplication>
#include <QObject>
#include <QWindow>
#include <cstring>

#include "xdg-foreign-unstable-v1-client-protocol.h"
#include "xdg-foreign-unstable-v2-client-protocol.h"

namespace tarvo {

namespace {

// The importers the compositor offers. They are bound on a queue of our own, so that Qt, which
// dispatches the connection's default queue, never sees their objects or events.
struct Importers {
  zxdg_importer_v2* v2 = nullptr;
  zxdg_importer_v1* v1 = nullptr;
};

void bind_importer(void* data, wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t) {
  auto& importers = *static_cast<Importers*>(data);
  if (std::strcmp(interface, zxdg_importer_v2_interface.name) == 0 && !importers.v2) {
    importers.v2 = static_cast<zxdg_importer_v2*>(
        wl_registry_bind(registry, name, &zxdg_importer_v2_interface, 1));
  } else if (std::strcmp(interface, zxdg_importer_v1_interface.name) == 0 && !importers.v1) {
    importers.v1 = static_cast<zxdg_importer_v1*>(
        wl_registry_bind(registry, name, &zxdg_importer_v1_interface, 1));
  }
}

void ignore_global_removal(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {bind_importer, ignore_global_removal};

// The other program's toplevel as imported for one window of ours. It belongs to that window (a
// child object of its QWindow) and goes with it: while it lives, the compositor keeps the
// relationship that set_parent_of made.
class ImportedParent : public QObject {
 public:
  static constexpr const char* kName = "tarvo-foreign-parent";

  ImportedParent(QWindow& window, wl_display* display, const QByteArray& handle)
      : QObject(&window), display_(display), handle_(handle) {
    setObjectName(QLatin1String(kName));
    queue_ = wl_display_create_queue(display);
  }
  ~ImportedParent() override {
    forget_import();
    wl_event_queue_destroy(queue_);
  }

  const QByteArray& handle() const { return handle_; }

  // Imports the handle through the newest importer offered, the next one where the compositor
  // does not know the handle there. False when none knew it, or none is offered.
  bool import() {
    Importers importers = find_importers();
    bool imported = false;
    if (importers.v2) imported = import_with(importers.v2);
    if (!imported && importers.v1) imported = import_with(importers.v1);
    if (importers.v2) zxdg_importer_v2_destroy(importers.v2);
    if (importers.v1) zxdg_importer_v1_destroy(importers.v1);
    return imported;
  }

  // Whether the imported toplevel still exists (the compositor says when it has gone).
  bool alive() {
    wl_display_dispatch_queue_pending(display_, queue_);
    return (v2_ || v1_) && !gone_;
  }

  void set_parent_of(wl_surface* child) {
    if (v2_) zxdg_imported_v2_set_parent_of(v2_, child);
    if (v1_) zxdg_imported_v1_set_parent_of(v1_, child);
    wl_display_flush(display_);
  }

 private:
  static void on_v2_destroyed(void* data, zxdg_imported_v2*) {
    static_cast<ImportedParent*>(data)->gone_ = true;
  }
  static void on_v1_destroyed(void* data, zxdg_imported_v1*) {
    static_cast<ImportedParent*>(data)->gone_ = true;
  }
  static constexpr zxdg_imported_v2_listener kV2Listener = {on_v2_destroyed};
  static constexpr zxdg_imported_v1_listener kV1Listener = {on_v1_destroyed};

  Importers find_importers() {
    Importers importers;
    // The registry is made through a wrapper of the display that sends its events to our queue,
    // so that no global reaches Qt's queue before our listener is set.
    auto* display = static_cast<wl_display*>(wl_proxy_create_wrapper(display_));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(display), queue_);
    wl_registry* registry = wl_display_get_registry(display);
    wl_proxy_wrapper_destroy(display);
    wl_registry_add_listener(registry, &kRegistryListener, &importers);
    wl_display_roundtrip_queue(display_, queue_);
    wl_registry_destroy(registry);
    return importers;
  }

  // A handle the compositor does not know is answered at once with a destroyed event: one round
  // trip tells.
  bool import_with(zxdg_importer_v2* importer) {
    v2_ = zxdg_importer_v2_import_toplevel(importer, handle_.constData());
    zxdg_imported_v2_add_listener(v2_, &kV2Listener, this);
    return known_after_round_trip();
  }
  bool import_with(zxdg_importer_v1* importer) {
    v1_ = zxdg_importer_v1_import(importer, handle_.constData());
    zxdg_imported_v1_add_listener(v1_, &kV1Listener, this);
    return known_after_round_trip();
  }
  bool known_after_round_trip() {
    gone_ = false;
    wl_display_roundtrip_queue(display_, queue_);
    if (!gone_) return true;
    forget_import();
    return false;
  }

  void forget_import() {
    if (v2_) zxdg_imported_v2_destroy(v2_);
    if (v1_) zxdg_imported_v1_destroy(v1_);
    v2_ = nullptr;
    v1_ = nullptr;
  }

  wl_display* display_;
  wl_event_queue* queue_ = nullptr;
  QByteArray handle_;
  zxdg_imported_v2* v2_ = nullptr;
  zxdg_imported_v1* v1_ = nullptr;
  bool gone_ = false;
};

}  // namespace

bool set_foreign_parent(QWindow& window, const QString& exported_handle) {
  if (exported_handle.isEmpty() ||
      !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    return false;
  }
  // Only a shown window has the toplevel role that a parent is set for; asking for any other
  // surface is a protocol error, which would end the connection.
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (!native || !window.isVisible()) return false;
  auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
  auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", &window));
  if (!display || !surface) return false;

  const QByteArray handle = exported_handle.toUtf8();
  auto* parent = dynamic_cast<ImportedParent*>(
      window.findChild<QObject*>(QLatin1String(ImportedParent::kName), Qt::FindDirectChildrenOnly));
  if (parent && (parent->handle() != handle || !parent->alive())) {
    delete parent;
    parent = nullptr;
  }
  if (!parent) {
    parent = new ImportedParent(window, display, handle);
    if (!parent->import()) {
      delete parent;
      return false;
    }
  }
  parent->set_parent_of(surface);
  return true;
}

}  // namespace tarvo
