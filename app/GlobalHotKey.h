#pragma once
// A system-wide hot key: F9 without modifiers, taken from every other application while the
// program runs. On X11 it is a key grab on the root window, made for every combination of the
// lock modifiers (Caps Lock, Num Lock) so that it works whatever their state. Other platforms
// (Wayland, offscreen) offer no such thing, and registration is refused there.

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <functional>
#include <vector>

struct xcb_connection_t;

namespace quillet {

// The keycode that carries F9 on the X server's keyboard map; 0 when none does.
uint8_t X11KeycodeOfF9(xcb_connection_t* connection);

class GlobalHotKey : public QAbstractNativeEventFilter {
 public:
  // `pressed` runs on the UI thread as an event of `context`, and never after it is gone.
  GlobalHotKey(QObject* context, std::function<void()> pressed);
  ~GlobalHotKey() override;
  GlobalHotKey(const GlobalHotKey&) = delete;
  GlobalHotKey& operator=(const GlobalHotKey&) = delete;

  // False when the platform has no global hot keys or another client holds F9.
  bool Register();
  void Unregister();
  bool Registered() const { return !grabbed_.empty(); }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  struct Grab {
    uint32_t root;
    uint16_t modifiers;
  };
  QObject* context_;
  std::function<void()> pressed_;
  void* connection_ = nullptr;  // the platform's xcb connection, while registered
  uint8_t keycode_ = 0;
  std::vector<Grab> grabbed_;
  uint32_t lastReleaseTime_ = 0;
};

}  // namespace quillet
