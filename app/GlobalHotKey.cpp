#include "app/GlobalHotKey.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <cstdlib>
#include <memory>

namespace quillet {

namespace {

constexpr xcb_keysym_t kF9 = 0xFFC6;
// Caps Lock and Num Lock (Mod2 on every common keymap) must not stop the key from working.
constexpr uint16_t kLockModifiers[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                       XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint16_t kIgnoredState = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* PlatformConnection() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

xcb_keycode_t KeycodeOf(xcb_connection_t* c, xcb_keysym_t wanted) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  XcbReply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
      c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<uint8_t>(count)), nullptr));
  if (!map) return 0;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
  const int perCode = map->keysyms_per_keycode;
  for (int k = 0; k < count; ++k)
    for (int j = 0; j < perCode; ++j)
      if (syms[k * perCode + j] == wanted) return static_cast<xcb_keycode_t>(setup->min_keycode + k);
  return 0;
}

}  // namespace

uint8_t X11KeycodeOfF9(xcb_connection_t* connection) { return KeycodeOf(connection, kF9); }

GlobalHotKey::GlobalHotKey(QObject* context, std::function<void()> pressed)
    : context_(context), pressed_(std::move(pressed)) {}

GlobalHotKey::~GlobalHotKey() { Unregister(); }

bool GlobalHotKey::Register() {
  if (Registered()) return true;
  xcb_connection_t* c = PlatformConnection();
  if (!c) return false;
  keycode_ = X11KeycodeOfF9(c);
  if (!keycode_) return false;
  connection_ = c;
  for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
    for (uint16_t modifiers : kLockModifiers) {
      // Checked one by one: a grab another client holds fails with BadAccess.
      xcb_void_cookie_t cookie = xcb_grab_key_checked(c, 1, it.data->root, modifiers, keycode_,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
      if (XcbReply<xcb_generic_error_t> error{xcb_request_check(c, cookie)}) {
        Unregister();
        return false;
      }
      grabbed_.push_back({it.data->root, modifiers});
    }
  }
  QCoreApplication::instance()->installNativeEventFilter(this);
  return Registered();
}

void GlobalHotKey::Unregister() {
  if (!connection_) return;
  auto* c = static_cast<xcb_connection_t*>(connection_);
  for (const Grab& g : grabbed_) xcb_ungrab_key(c, keycode_, g.root, g.modifiers);
  xcb_flush(c);
  grabbed_.clear();
  connection_ = nullptr;
  if (auto* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (!Registered() || eventType != "xcb_generic_event_t") return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  const uint8_t type = event->response_type & 0x7F;
  if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
  // Press and release carry the same layout.
  auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
  if (key->detail != keycode_ || (key->state & ~kIgnoredState) != 0) return false;
  bool ours = false;
  for (const Grab& g : grabbed_) ours = ours || g.root == key->root;
  if (!ours) return false;
  if (type == XCB_KEY_RELEASE) {
    lastReleaseTime_ = key->time;
  } else if (key->time != lastReleaseTime_) {
    // Auto-repeat sends a release and a press with one time stamp: only the first press counts.
    // The action runs after the filter has returned, as any other event handler does.
    QMetaObject::invokeMethod(context_, pressed_, Qt::QueuedConnection);
  }
  return true;
}

}  // namespace quillet
