#include "cli/station/JournalRecord.h"

#include <json/json.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <set>

namespace quillet::cli::station {

namespace {

constexpr const char* kEventNames[] = {"start", "reserve", "result", "torn"};
constexpr const char* kResultNames[] = {"pass", "fail", "interrupted"};

// The checksum closes the object, so the line stays plain JSON: {...,"crc32":"1a2b3c4d"}.
constexpr std::string_view kCrcKey = ",\"crc32\":\"";
constexpr size_t kCrcSuffix = kCrcKey.size() + 8 + 2;  // eight hex digits, a quote and the brace

uint32_t Crc32(std::string_view bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

template <size_t N>
std::optional<size_t> IndexOf(const char* const (&names)[N], const std::string& name) {
  for (size_t i = 0; i < N; ++i)
    if (name == names[i]) return i;
  return std::nullopt;
}

bool IsBoardEvent(JournalEvent e) { return e == JournalEvent::Reserve || e == JournalEvent::Result; }

Json::Value ToJson(const JournalRecord& r) {
  Json::Value v(Json::objectValue);
  v["event"] = EventName(r.event);
  v["time"] = r.time;
  v["run"] = r.run;
  if (IsBoardEvent(r.event)) {
    v["board"] = Json::UInt64(r.board);
    v["slot"]["serial"] = r.slotSerial;
    v["slot"]["node"] = r.slotNode;
    if (r.slotShared) v["slot"]["shared"] = true;
    v["chip"] = r.chip;
    v["image_sha256"] = r.imageSha256;
    if (r.serial) {
      v["serial"]["value"] = Json::UInt64(*r.serial);
      v["serial"]["bytes"] = r.serialBytes;
    } else {
      v["serial"] = Json::Value();
    }
    if (r.reflash) v["reflash"] = true;
  }
  if (r.event == JournalEvent::Result) {
    v["result"] = ResultName(r.result);
    if (!r.phase.empty()) v["phase"] = r.phase;
    if (!r.failure.empty()) v["failure"] = r.failure;
    Json::Value seconds(Json::objectValue);
    for (const auto& [phase, s] : r.phaseSeconds) seconds[phase] = s;
    v["phase_seconds"] = seconds;
  }
  if (!r.text.empty()) v["text"] = r.text;
  return v;
}

std::optional<JournalRecord> FromJson(const Json::Value& v) {
  if (!v.isObject() || !v["event"].isString() || !v["time"].isString() || !v["run"].isString())
    return std::nullopt;
  const auto event = IndexOf(kEventNames, v["event"].asString());
  if (!event) return std::nullopt;
  JournalRecord r;
  r.event = static_cast<JournalEvent>(*event);
  r.time = v["time"].asString();
  r.run = v["run"].asString();
  r.text = v.get("text", "").asString();
  if (IsBoardEvent(r.event)) {
    if (!v["board"].isUInt64()) return std::nullopt;
    r.board = v["board"].asUInt64();
    r.slotSerial = v["slot"].get("serial", "").asString();
    r.slotNode = v["slot"].get("node", "").asString();
    r.slotShared = v["slot"].get("shared", false).asBool();
    r.chip = v.get("chip", "").asString();
    r.imageSha256 = v.get("image_sha256", "").asString();
    if (const Json::Value& s = v["serial"]; !s.isNull()) {
      if (!s.isObject() || !s["value"].isUInt64()) return std::nullopt;
      r.serial = s["value"].asUInt64();
      r.serialBytes = s.get("bytes", "").asString();
    }
    r.reflash = v.get("reflash", false).asBool();
  }
  if (r.event == JournalEvent::Result) {
    const auto result = IndexOf(kResultNames, v["result"].asString());
    if (!v["result"].isString() || !result) return std::nullopt;
    r.result = static_cast<BoardResult>(*result);
    r.phase = v.get("phase", "").asString();
    r.failure = v.get("failure", "").asString();
    const Json::Value& seconds = v["phase_seconds"];
    if (seconds.isObject())
      for (const std::string& name : seconds.getMemberNames()) r.phaseSeconds[name] = seconds[name].asDouble();
  }
  return r;
}

}  // namespace

const char* EventName(JournalEvent event) { return kEventNames[static_cast<size_t>(event)]; }
const char* ResultName(BoardResult result) { return kResultNames[static_cast<size_t>(result)]; }

std::string FormatJournalLine(const JournalRecord& record) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  builder["precisionType"] = "decimal";
  builder["precision"] = 3;  // phase times to the millisecond
  std::string body = Json::writeString(builder, ToJson(record));
  body.pop_back();  // the closing brace; the checksum covers the object without it
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", Crc32(body));
  return body + std::string(kCrcKey) + crc + "\"}\n";
}

std::optional<JournalRecord> ParseJournalLine(std::string_view line) {
  if (line.size() < kCrcSuffix + 1 || line.substr(line.size() - 2) != "\"}") return std::nullopt;
  const std::string_view body = line.substr(0, line.size() - kCrcSuffix);
  if (line.substr(body.size(), kCrcKey.size()) != kCrcKey) return std::nullopt;
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", Crc32(body));
  if (line.substr(body.size() + kCrcKey.size(), 8) != crc) return std::nullopt;
  Json::CharReaderBuilder builder;
  builder["failIfExtra"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  if (!reader->parse(line.data(), line.data() + line.size(), &value, &errors)) return std::nullopt;
  return FromJson(value);
}

JournalScan ScanJournal(std::string_view text) {
  JournalScan scan;
  std::map<uint64_t, const JournalRecord*> open;  // reserved boards with no result yet, by board
  std::set<uint64_t> newSerials;
  size_t lineNumber = 0;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) {
      scan.tornTail = std::string(text.substr(begin));
      break;
    }
    ++lineNumber;
    scan.wholeBytes = end + 1;
    const std::optional<JournalRecord> record = ParseJournalLine(text.substr(begin, end - begin));
    begin = end + 1;
    if (!record) {
      scan.damagedLines.push_back(lineNumber);
      continue;
    }
    scan.records.push_back(*record);
  }
  for (const JournalRecord& r : scan.records) {
    if (r.event == JournalEvent::Reserve) {
      open[r.board] = &r;
      scan.highestBoard = std::max(scan.highestBoard, r.board);
      if (r.serial) {
        scan.highestSerial = std::max(scan.highestSerial.value_or(0), *r.serial);
        if (!r.reflash && !newSerials.insert(*r.serial).second) scan.duplicateSerials.push_back(*r.serial);
      }
    } else if (r.event == JournalEvent::Result) {
      open.erase(r.board);
      scan.highestBoard = std::max(scan.highestBoard, r.board);
    }
  }
  for (const auto& [board, reserve] : open) scan.unfinished.push_back(*reserve);
  // A tail that is a whole record but for its newline never reached the disk in full, so its board
  // never started; its numbers count as used all the same, which costs a gap at most.
  if (const auto tail = ParseJournalLine(scan.tornTail); tail && tail->event == JournalEvent::Reserve) {
    scan.highestBoard = std::max(scan.highestBoard, tail->board);
    if (tail->serial) scan.highestSerial = std::max(scan.highestSerial.value_or(0), *tail->serial);
  }
  return scan;
}

std::string IsoUtc(int64_t millisecondsSinceEpoch) {
  const std::time_t seconds = static_cast<std::time_t>(millisecondsSinceEpoch / 1000);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millisecondsSinceEpoch % 1000));
  return text;
}

}  // namespace quillet::cli::station
