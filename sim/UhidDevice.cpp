#include "sim/UhidDevice.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillet::sim {

namespace fs = std::filesystem;

namespace {

uhid_event Blank(uint32_t type) {
  uhid_event ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = type;
  return ev;
}

template <size_t N>
void CopyString(__u8 (&field)[N], const std::string& s) {
  const size_t n = std::min(s.size(), N - 1);
  std::memcpy(field, s.data(), n);
  field[n] = 0;
}

// The hex sequence number after the last dot of a HID device directory's name ("...003F.000A"),
// or -1. A number whose digits before the last exceed 2^40 is refused too.
long HidSequence(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return -1;
  const char* first = name.data() + dot + 1;
  const char* last = name.data() + name.size();
  uint64_t n = 0;
  const auto [end, error] = std::from_chars(first, last, n, 16);
  if (error != std::errc() || end != last || n / 16 > (uint64_t{1} << 40)) return -1;
  return static_cast<long>(n);
}

}  // namespace

std::optional<uhid_event> EncodeCreate2(const UhidDeviceInfo& info) {
  if (info.descriptor.empty() || info.descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) return std::nullopt;
  uhid_event ev = Blank(UHID_CREATE2);
  auto& c = ev.u.create2;
  CopyString(c.name, info.name);
  CopyString(c.phys, info.phys);
  CopyString(c.uniq, info.serial);
  c.rd_size = static_cast<__u16>(info.descriptor.size());
  c.bus = info.bus;
  c.vendor = info.vendor;
  c.product = info.product;
  c.version = info.version;
  c.country = 0;
  std::memcpy(c.rd_data, info.descriptor.data(), info.descriptor.size());
  return ev;
}

std::optional<uhid_event> EncodeInput2(const uint8_t* data, size_t size) {
  if (size > UHID_DATA_MAX || (size && !data)) return std::nullopt;
  uhid_event ev = Blank(UHID_INPUT2);
  ev.u.input2.size = static_cast<__u16>(size);
  if (size) std::memcpy(ev.u.input2.data, data, size);
  return ev;
}

uhid_event EncodeDestroy() { return Blank(UHID_DESTROY); }

uhid_event EncodeGetReportReply(uint32_t id, uint16_t error) {
  uhid_event ev = Blank(UHID_GET_REPORT_REPLY);
  ev.u.get_report_reply.id = id;
  ev.u.get_report_reply.err = error;
  ev.u.get_report_reply.size = 0;
  return ev;
}

uhid_event EncodeSetReportReply(uint32_t id, uint16_t error) {
  uhid_event ev = Blank(UHID_SET_REPORT_REPLY);
  ev.u.set_report_reply.id = id;
  ev.u.set_report_reply.err = error;
  return ev;
}

std::optional<UhidMessage> DecodeUhidEvent(const void* bytes, size_t length) {
  if (!bytes || length < sizeof(__u32)) return std::nullopt;
  uhid_event ev;
  std::memset(&ev, 0, sizeof ev);
  std::memcpy(&ev, bytes, std::min(length, sizeof ev));
  // The fields an event carries must all have arrived.
  auto has = [length](size_t fieldsEnd) { return length >= offsetof(uhid_event, u) + fieldsEnd; };
  UhidMessage m;
  m.type = ev.type;
  switch (ev.type) {
    case UHID_START:
      if (!has(sizeof(uhid_start_req))) return std::nullopt;
      m.kind = UhidMessage::Start;
      m.deviceFlags = ev.u.start.dev_flags;
      break;
    case UHID_STOP: m.kind = UhidMessage::Stop; break;
    case UHID_OPEN: m.kind = UhidMessage::Open; break;
    case UHID_CLOSE: m.kind = UhidMessage::Close; break;
    case UHID_OUTPUT: {
      if (!has(sizeof(uhid_output_req))) return std::nullopt;
      const auto& o = ev.u.output;
      if (o.size > UHID_DATA_MAX) return std::nullopt;
      m.kind = UhidMessage::Output;
      m.reportType = o.rtype;
      m.data.assign(o.data, o.data + o.size);
      break;
    }
    case UHID_GET_REPORT: {
      if (!has(sizeof(uhid_get_report_req))) return std::nullopt;
      m.kind = UhidMessage::GetReport;
      m.id = ev.u.get_report.id;
      m.reportNumber = ev.u.get_report.rnum;
      m.reportType = ev.u.get_report.rtype;
      break;
    }
    case UHID_SET_REPORT: {
      const auto& s = ev.u.set_report;
      if (!has(offsetof(uhid_set_report_req, data))) return std::nullopt;
      if (s.size > UHID_DATA_MAX || !has(offsetof(uhid_set_report_req, data) + s.size)) return std::nullopt;
      m.kind = UhidMessage::SetReport;
      m.id = s.id;
      m.reportNumber = s.rnum;
      m.reportType = s.rtype;
      m.data.assign(s.data, s.data + s.size);
      break;
    }
    default: m.kind = UhidMessage::Other; break;
  }
  return m;
}

std::vector<uint8_t> InputWireBytes(const uint8_t* report, size_t length, bool numberedInput) {
  if (!report || length == 0) return {};
  if (numberedInput) return {report, report + length};
  return {report + 1, report + length};
}

std::optional<std::string> FindHidrawNode(const std::string& sysRoot, const std::string& devRoot,
                                          uint16_t bus, uint16_t vendor, uint16_t product,
                                          const std::string& uniq) {
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "%04X:%08X:%08X", bus, vendor, product);
  std::optional<std::string> best;
  long bestSequence = -2;
  std::error_code ec;
  const fs::path classDir = fs::path(sysRoot) / "class" / "hidraw";
  for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string node = it->path().filename().string();
    std::error_code ec2;
    const fs::path hidDir = fs::canonical(it->path() / "device", ec2);
    if (ec2) continue;
    std::ifstream in(hidDir / "uevent");
    std::string line, id, u;
    bool haveUniq = false;
    while (std::getline(in, line)) {
      if (line.rfind("HID_ID=", 0) == 0) id = line.substr(7);
      if (line.rfind("HID_UNIQ=", 0) == 0) {
        u = line.substr(9);
        haveUniq = true;
      }
    }
    // HID_ID's letters are upper case; compare without regard to case all the same.
    std::string upper = id;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (upper != wanted || (uniq.empty() ? haveUniq && !u.empty() : u != uniq)) continue;
    const fs::path devNode = fs::path(devRoot) / node;
    if (!fs::exists(devNode, ec2)) continue;
    const long sequence = HidSequence(hidDir.filename().string());
    if (sequence > bestSequence) {
      bestSequence = sequence;
      best = devNode.string();
    }
  }
  return best;
}

}  // namespace quillet::sim
