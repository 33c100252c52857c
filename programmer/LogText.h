#pragma once
// Every activity-log text of the programmer layer, in one place: the lines the engine's events
// become and the console's own lines. The texts are English and are looked up in the message
// catalogue (programmer/po), so the user's locale picks the language: Chinese under a Chinese
// locale, English otherwise. Nothing else in the Qt-free layers spells a log text.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/EngineEvent.h"
#include "programmer/Outcome.h"

namespace quillet::logtext {

// The lines an engine event becomes, in order; none for the progress events, whose lines depend
// on the operation (see ReadFinished, WriteFinished).
std::vector<std::string> LinesOf(const EngineEvent& event);

// The identity reply's lines: communication line, the two check-failure lines when the check
// word is wrong, and the chip line.
std::vector<std::string> IdentityLines(const IdentityEvent& event);

std::string ProgrammerOpened(const std::string& product, const std::string& serial);
std::string Timeout(int32_t received, uint32_t size);
std::string ReadFinished(int32_t received);

// The console's lines that take no arguments.
enum class Notice {
  kHidOpened,
  kHidClosed,
  kHidError,
  kReadStarted,
  kWriteStarted,
  kWriteFinished,
  kFileNotExists,
  kNoImage,
  kImageTooLarge,
};
inline constexpr Notice kNotices[] = {
    Notice::kHidOpened,     Notice::kHidClosed,     Notice::kHidError,
    Notice::kReadStarted,   Notice::kWriteStarted,  Notice::kWriteFinished,
    Notice::kFileNotExists, Notice::kNoImage,       Notice::kImageTooLarge,
};
std::string Text(Notice notice);

// A failed operation in the log's own words, its lines joined into one: the reason a desktop
// notification gives.
std::string FailureText(const OperationFailure& failure);

// A marker line that names the event itself, the same in every language.
inline constexpr char kDeviceChange[] = "DeviceChange";

}  // namespace quillet::logtext
