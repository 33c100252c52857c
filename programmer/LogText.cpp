#include "programmer/LogText.h"

#include <cstdio>

#include "programmer/IdentityCheck.h"

namespace quillet::logtext {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

template <class... Args>
std::string Format(const char* format, Args... args) {
  char text[192];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

std::vector<std::string> IdentityLines(const IdentityEvent& event) {
  const Identity id = ReadIdentity(event);
  std::vector<std::string> lines;
  lines.push_back(Format("编程器通讯成功：固件类型%d 版本%d ", id.firmwareType, id.firmwareVersion));
  if (!id.CheckPassed()) {
    lines.push_back(Format("通信校验失败：上传值：%d 计算值：%d", id.checkWord, id.expectedWord));
    const auto& r = event.request.bytes;
    lines.push_back(Format("%x %x %x", r[2], r[3], LoadU16(&r[4])));
  }
  lines.emplace_back(id.chipConnected ? "芯片已连接！"
                                      : "芯片未连接！请确认：连接正确/模块OK/线接触良好");
  return lines;
}

std::vector<std::string> LinesOf(const EngineEvent& event) {
  using Lines = std::vector<std::string>;
  return std::visit(
      Overloaded{
          [](const ConnectEvent&) -> Lines { return {"连接编程器"}; },
          [](const UnknownChipEvent&) -> Lines { return {"未知芯片类型！"}; },
          [](const FailureReplyEvent& e) -> Lines {
            return {Format("操作失败:%02X  %02X", e.reply, e.reply & OP_FAIL)};
          },
          [](const UnknownReplyEvent&) -> Lines { return {"未知操作"}; },
          [](const IdentityEvent& e) -> Lines { return IdentityLines(e); },
          [](const ReadStartEvent& e) -> Lines { return {Format("开始读FLASH...%u", e.size)}; },
          [](const ReadProgressEvent&) -> Lines { return {}; },
          [](const WriteStartEvent&) -> Lines { return {"开始写FLASH"}; },
          [](const WriteProgressEvent&) -> Lines { return {}; },
          [](const StreamStoppedEvent& e) -> Lines {
            return {Format("写FLASH失败：第%lld个数据包（共%lld个）未被编程器接收",
                           static_cast<long long>(e.report), static_cast<long long>(e.reports))};
          },
          [](const VerifyEvent& e) -> Lines {
            if (e.agree) return {"校验成功"};
            return {"校验失败", Format("本地校验：%d 设备端校验：%d", e.local, e.device)};
          },
      },
      event);
}

std::string ProgrammerOpened(const std::string& product, const std::string& serial) {
  return "编程器已打开" + product + " " + serial;
}

std::string Timeout(int32_t received, uint32_t size) {
  return Format("操作超时 %d  %u", received, size);
}

std::string ReadFinished(int32_t received) { return Format("读FLASH完毕,%d byte", received); }

}  // namespace quillet::logtext
