#include "programmer/LogText.h"

#include "programmer/IdentityCheck.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::logtext {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : " ") + line;
  return text;
}

std::string CheckFailed(int received, int computed) {
  return Format(Translate("Communication check failed: received %d, computed %d"), received, computed);
}

}  // namespace

std::vector<std::string> IdentityLines(const IdentityEvent& event) {
  const Identity id = ReadIdentity(event);
  std::vector<std::string> lines;
  lines.push_back(Format(Translate("Programmer answered: firmware type %d version %d"),
                         id.firmwareType, id.firmwareVersion));
  if (!id.CheckPassed()) {
    lines.push_back(CheckFailed(id.checkWord, id.expectedWord));
    const auto& r = event.request.bytes;
    lines.push_back(Format("%x %x %x", r[2], r[3], LoadU16(&r[4])));
  }
  lines.emplace_back(
      id.chipConnected ? Translate("Chip connected!")
                       : Translate("Chip not connected! Check the wiring, the module and the contacts"));
  return lines;
}

std::vector<std::string> LinesOf(const EngineEvent& event) {
  using Lines = std::vector<std::string>;
  return std::visit(
      Overloaded{
          [](const ConnectEvent&) -> Lines { return {Translate("Connecting to the programmer")}; },
          [](const UnknownChipEvent&) -> Lines { return {Translate("Unknown chip type!")}; },
          [](const FailureReplyEvent& e) -> Lines {
            return {Format(Translate("Operation failed: %02X  %02X"), e.reply, e.reply & OP_FAIL)};
          },
          [](const UnknownReplyEvent&) -> Lines { return {Translate("Unknown operation")}; },
          [](const IdentityEvent& e) -> Lines { return IdentityLines(e); },
          [](const ReadStartEvent& e) -> Lines {
            return {Format(Translate("Reading flash... %u"), e.size)};
          },
          [](const ReadProgressEvent&) -> Lines { return {}; },
          [](const WriteStartEvent&) -> Lines { return {Translate("Writing flash")}; },
          [](const WriteProgressEvent&) -> Lines { return {}; },
          [](const StreamStoppedEvent& e) -> Lines {
            return {Format(
                Translate("Flash write failed: the programmer did not take packet %lld of %lld"),
                static_cast<long long>(e.report), static_cast<long long>(e.reports))};
          },
          [](const VerifyEvent& e) -> Lines {
            if (e.agree) return {Translate("Verify passed")};
            return {Translate("Verify failed"),
                    Format(Translate("Local checksum: %d, device checksum: %d"), e.local, e.device)};
          },
      },
      event);
}

std::string FailureText(const OperationFailure& failure) {
  return std::visit(
      Overloaded{
          [](const failure::FailureReply& f) { return Joined(LinesOf(FailureReplyEvent{f.reply})); },
          [](const failure::StreamStopped& f) { return Joined(LinesOf(StreamStoppedEvent{f.report, f.reports})); },
          [](const failure::ChecksumMismatch& f) {
            return Joined(LinesOf(VerifyEvent{false, f.local, f.device}));
          },
          [](const failure::ReadBackMismatch&) { return std::string(Translate("Verify failed")); },
          [](const failure::NoChip&) {
            return std::string(Translate("Chip not connected! Check the wiring, the module and the contacts"));
          },
          [](const failure::CheckWordMismatch& f) { return CheckFailed(f.received, f.expected); },
          [](const failure::Timeout& f) { return Timeout(f.received, f.size); },
          [](const failure::Removed&) { return Text(Notice::kHidClosed); },
          [](const failure::PermissionRefused& f) { return f.message; },
          [](const failure::OpenFailed& f) { return f.message; },
          [](const failure::ImageRefused& f) {
            return Text(f.reason == failure::ImageRefused::Missing ? Notice::kFileNotExists
                        : f.reason == failure::ImageRefused::Empty ? Notice::kNoImage
                                                                   : Notice::kImageTooLarge);
          },
          [](const failure::Replaced&) { return std::string(Translate("Another operation took its place")); },
      },
      failure);
}

std::string ProgrammerOpened(const std::string& product, const std::string& serial) {
  return Format(Translate("Programmer opened: %s %s"), product.c_str(), serial.c_str());
}

std::string Timeout(int32_t received, uint32_t size) {
  return Format(Translate("Operation timed out %d  %u"), received, size);
}

std::string ReadFinished(int32_t received) {
  return Format(Translate("Flash read complete, %d bytes"), received);
}

std::string Text(Notice notice) {
  switch (notice) {
    case Notice::kHidOpened:
      return Translate("HID device opened");
    case Notice::kHidClosed:
      return Translate("HID device closed");
    case Notice::kHidError:
      return Translate("HID device error");
    case Notice::kReadStarted:
      return Translate("Read flash");
    case Notice::kWriteStarted:
      return Translate("Write flash");
    case Notice::kWriteFinished:
      return Translate("Flash write complete");
    case Notice::kFileNotExists:
      return Translate("File does not exist!");
    case Notice::kNoImage:
      return Translate("Load a file to write first!");
    case Notice::kImageTooLarge:
      return Translate("The file is larger than the chip's flash!");
  }
  return {};
}

}  // namespace quillet::logtext
