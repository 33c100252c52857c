#pragma once
// quillet-cli's way to the desktop's notification service, one file per system
// (DesktopNotify<System>.cpp): on Linux the freedesktop service on the session bus.

#include <memory>

#include "programmer/DesktopNotice.h"

namespace quillet::cli {

std::unique_ptr<NoticeSender> SystemNoticeSender();

}  // namespace quillet::cli
