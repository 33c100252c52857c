#pragma once
// The window's way to the desktop's notification service: the freedesktop service on the session
// bus through QtDBus, called without waiting for its answer.

#include <memory>

#include "programmer/DesktopNotice.h"

namespace quillet {

// Over the session bus DBUS_SESSION_BUS_ADDRESS names (else the user's runtime folder's), as it is
// when the sender is made. Its answers come as events of the calling thread's event loop.
std::unique_ptr<NoticeSender> SessionBusNoticeSender();

}  // namespace quillet
