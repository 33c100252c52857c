#pragma once
// Every activity-log text of the programmer layer, in one place: the lines the engine's events
// become and the console's own lines. Nothing else in the Qt-free layers spells a log text, so a
// second language replaces this one file's choices and nothing else.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/EngineEvent.h"

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

inline constexpr char kDeviceChange[] = "DeviceChange";
inline constexpr char kHidOpened[] = "HID 设备已打开";
inline constexpr char kHidClosed[] = "HID 设备已关闭 ";
inline constexpr char kHidError[] = "HID 设备出错 ";
inline constexpr char kReadStarted[] = "读FLASH";
inline constexpr char kWriteStarted[] = "写FLASH";
inline constexpr char kWriteFinished[] = "写FLASH完成";
inline constexpr char kFileNotExists[] = "File Not Exists!";
inline constexpr char kNoImage[] = "请载入烧录文件！";
inline constexpr char kImageTooLarge[] = "烧录文件超过芯片容量！";

}  // namespace quillet::logtext
