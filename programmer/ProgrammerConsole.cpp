#include "programmer/ProgrammerConsole.h"

#include <filesystem>
#include <memory>
#include <utility>

#include "programmer/LogText.h"
#include "programmer/MessageCatalogue.h"

namespace quillet {

ProgrammerConsole::ProgrammerConsole(Programmer& programmer, ConsoleView& view)
    : programmer_(programmer), view_(view) {
  ProgrammerListener listener;
  listener.started = [this](Operation, uint32_t total) { view_.SetProgressRange(static_cast<int>(total)); };
  listener.progress = [this](Operation, uint32_t done, uint32_t) {
    view_.SetProgressPosition(static_cast<int>(done));
  };
  // Applied from the connection's state when the UI thread gets to it.
  listener.connectionChanged = [this] { view_.SetOperationButtonsEnabled(programmer_.IsOpen()); };
  programmer_.SetListener(std::move(listener));
}

void ProgrammerConsole::Rescan() {
  const Programmer::RescanResult r = programmer_.Rescan();
  if (!r.failure) return;
  if (const auto* refused = std::get_if<failure::PermissionRefused>(&*r.failure))
    throw hid::EHidError(refused->message + "\n\n" + logtext::Translate(refused->hint.c_str()));
  if (const auto* failed = std::get_if<failure::OpenFailed>(&*r.failure)) throw hid::EHidError(failed->message);
}

void ProgrammerConsole::DeviceChange() {
  programmer_.AppendLog(logtext::kDeviceChange);
  Rescan();
}

void ProgrammerConsole::SetProgrammerFilter(std::function<bool(const hid::THidDevice&)> accept) {
  programmer_.SetFilter(std::move(accept));
}

void ProgrammerConsole::SelectChip(const std::string& text, bool entrySelected) {
  if (text.empty() || !entrySelected) return;
  programmer_.SelectChip(text);
}

void ProgrammerConsole::Detect() { programmer_.Detect(); }

void ProgrammerConsole::Read(TaskFlags flags) {
  programmer_.Read(flags, [this](const OperationOutcome& o) {
    if (o.Ok()) view_.ShowReadBack(o.flash);
  });
}

void ProgrammerConsole::Write(TaskFlags flags, bool reloadImage, const std::string& imagePath, Done done) {
  programmer_.Write(flags, [&]() -> std::optional<uint32_t> {
    if (reloadImage) {
      std::error_code error;
      if (imagePath.empty() || !std::filesystem::is_regular_file(imagePath, error)) {
        programmer_.AppendLog(logtext::Text(logtext::Notice::kFileNotExists));
        return std::nullopt;
      }
      view_.LoadImageFile(imagePath);
    }
    return view_.ImageSize();
  }, std::move(done));
}

void ProgrammerConsole::WatchdogTimerFired() { programmer_.WatchdogTimerFired(); }

void ProgrammerConsole::HidIO1AfterReceive(const uint8_t* report, uint32_t length) {
  programmer_.HidIO1AfterReceive(report, length);
}

}  // namespace quillet
