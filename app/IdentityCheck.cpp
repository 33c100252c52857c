#include "app/IdentityCheck.h"

#include <cstdio>

namespace quillet {

Identity ReadIdentity(const ConnectRequest& request, const uint8_t* reply) {
  Identity id;
  id.chipConnected = reply[1] != 0;
  id.firmwareType = reply[2];
  id.firmwareVersion = reply[3];
  id.checkWord = LoadU16(&reply[4]);
  id.expectedWord = ExpectedCheckWord(request);
  return id;
}

std::vector<std::string> IdentityCheckLines(const ConnectRequest& request, const uint8_t* reply) {
  const Identity id = ReadIdentity(request, reply);
  std::vector<std::string> lines;
  char text[160];
  std::snprintf(text, sizeof text, "编程器通讯成功：固件类型%d 版本%d ", id.firmwareType,
                id.firmwareVersion);
  lines.emplace_back(text);
  if (!id.CheckPassed()) {
    std::snprintf(text, sizeof text, "通信校验失败：上传值：%d 计算值：%d", id.checkWord,
                  id.expectedWord);
    lines.emplace_back(text);
    const auto& r = request.bytes;
    std::snprintf(text, sizeof text, "%x %x %x", r[2], r[3], LoadU16(&r[4]));
    lines.emplace_back(text);
  }
  lines.emplace_back(id.chipConnected ? "芯片已连接！"
                                      : "芯片未连接！请确认：连接正确/模块OK/线接触良好");
  return lines;
}

}  // namespace quillet
