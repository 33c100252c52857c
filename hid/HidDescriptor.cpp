#include "hid/HidDescriptor.h"

#include <algorithm>
#include <map>

namespace quillet::hid {
namespace {

struct GlobalState {
  uint16_t usagePage = 0;
  int32_t logicalMin = 0;
  int32_t logicalMax = 0;
  uint32_t reportSize = 0;
  uint32_t reportCount = 0;
  uint32_t reportId = 0;
};

struct LocalState {
  std::vector<uint32_t> usages;  // page << 16 | usage
  std::optional<uint32_t> usageMin;
  std::optional<uint32_t> usageMax;
  void Clear() { *this = LocalState{}; }
};

// Item data is little-endian; a one or two byte value is sign-extended only where the item is signed.
uint32_t Unsigned(const uint8_t* p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

int32_t Signed(const uint8_t* p, size_t n) {
  uint32_t v = Unsigned(p, n);
  if (n == 1) return static_cast<int8_t>(v);
  if (n == 2) return static_cast<int16_t>(v);
  return static_cast<int32_t>(v);
}

class Parser {
 public:
  std::optional<HidDescriptorInfo> Run(const uint8_t* data, size_t size) {
    if (!data || size == 0 || size > kMaxReportDescriptorSize) return std::nullopt;
    size_t pos = 0;
    while (pos < size) {
      const uint8_t prefix = data[pos++];
      if (prefix == 0xFE) {  // long item: size, tag, data; carries nothing we use
        if (size - pos < 2) return std::nullopt;
        const size_t len = data[pos];
        pos += 2;
        if (size - pos < len) return std::nullopt;
        pos += len;
        continue;
      }
      size_t len = prefix & 0x03;
      if (len == 3) len = 4;
      if (size - pos < len) return std::nullopt;
      const uint8_t* item = data + pos;
      pos += len;
      const uint8_t type = (prefix >> 2) & 0x03;
      const uint8_t tag = prefix >> 4;
      bool ok = false;
      switch (type) {
        case 0: ok = Main(tag, item, len); break;
        case 1: ok = Global(tag, item, len); break;
        case 2: ok = Local(tag, item, len); break;
        default: ok = false; break;  // the reserved item type
      }
      if (!ok) return std::nullopt;
    }
    if (depth_ != 0 || !sawApplication_) return std::nullopt;
    return Finish();
  }

 private:
  bool Main(uint8_t tag, const uint8_t* item, size_t len) {
    switch (tag) {
      case 0x8: return Field(HidP_Input, Unsigned(item, len));
      case 0x9: return Field(HidP_Output, Unsigned(item, len));
      case 0xB: return Field(HidP_Feature, Unsigned(item, len));
      case 0xA: {  // collection
        if (depth_ >= kMaxCollectionDepth) return false;
        const uint32_t kind = Unsigned(item, len);
        if (depth_ == 0 && kind == 1 && !sawApplication_) {
          sawApplication_ = true;
          uint32_t usage = 0;
          if (!local_.usages.empty()) usage = local_.usages.front();
          else if (local_.usageMin) usage = *local_.usageMin;
          info_.caps.Usage = static_cast<uint16_t>(usage);
          info_.caps.UsagePage = static_cast<uint16_t>(usage >> 16);
        }
        ++depth_;
        if (info_.caps.NumberLinkCollectionNodes < 0xFFFF) ++info_.caps.NumberLinkCollectionNodes;
        local_.Clear();
        return true;
      }
      case 0xC:  // end collection
        if (depth_ == 0) return false;
        --depth_;
        local_.Clear();
        return true;
      default:
        return false;
    }
  }

  bool Field(HidReportType kind, uint32_t flags) {
    const uint64_t bits = static_cast<uint64_t>(global_.reportSize) * global_.reportCount;
    // A field without bits declares no report.
    if (bits > 0) {
      uint64_t& total = reportBits_[kind][global_.reportId];
      total += bits;
      // Report lengths are 16-bit counts of bytes including the ID byte.
      if ((total + 7) / 8 + 1 > 0xFFFF) return false;
    }
    const bool constant = (flags & 0x01) != 0;
    if (!constant && global_.reportCount > 0 && global_.reportSize > 0) AddCap(kind, flags);
    local_.Clear();
    return true;
  }

  void AddCap(HidReportType kind, uint32_t flags) {
    HidCapEntry cap;
    cap.ReportID = static_cast<uint8_t>(global_.reportId);
    cap.BitField = flags;
    cap.IsAbsolute = (flags & 0x04) == 0;
    cap.BitSize = static_cast<uint16_t>(global_.reportSize);
    cap.ReportCount = static_cast<uint16_t>(global_.reportCount);
    cap.LogicalMin = global_.logicalMin;
    cap.LogicalMax = global_.logicalMax;
    cap.LinkCollection = static_cast<uint16_t>(info_.caps.NumberLinkCollectionNodes ? info_.caps.NumberLinkCollectionNodes - 1 : 0);
    uint32_t indices = 1;
    if (local_.usageMin && local_.usageMax) {
      cap.IsRange = true;
      cap.UsagePage = static_cast<uint16_t>(*local_.usageMin >> 16);
      cap.UsageMin = static_cast<uint16_t>(*local_.usageMin);
      cap.UsageMax = static_cast<uint16_t>(*local_.usageMax);
      indices = cap.UsageMax >= cap.UsageMin ? cap.UsageMax - cap.UsageMin + 1u : 1u;
    } else if (!local_.usages.empty()) {
      cap.UsagePage = static_cast<uint16_t>(local_.usages.front() >> 16);
      cap.UsageMin = cap.UsageMax = static_cast<uint16_t>(local_.usages.front());
      indices = static_cast<uint32_t>(local_.usages.size());
    } else {
      cap.UsagePage = global_.usagePage;
    }
    uint16_t& next = nextDataIndex_[kind];
    cap.DataIndexMin = next;
    const uint32_t last = std::min<uint32_t>(0xFFFF, next + indices - 1u);
    cap.DataIndexMax = static_cast<uint16_t>(last);
    next = static_cast<uint16_t>(std::min<uint32_t>(0xFFFF, last + 1u));

    // An array, or a field of one-bit items, reports buttons; anything else reports values.
    const bool isArray = (flags & 0x02) == 0;
    const bool button = isArray || global_.reportSize == 1;
    (button ? info_.buttonCaps : info_.valueCaps)[kind].push_back(cap);
  }

  bool Global(uint8_t tag, const uint8_t* item, size_t len) {
    switch (tag) {
      case 0x0: global_.usagePage = static_cast<uint16_t>(Unsigned(item, len)); return true;
      case 0x1: global_.logicalMin = Signed(item, len); return true;
      case 0x2: global_.logicalMax = Signed(item, len); return true;
      case 0x3: case 0x4: case 0x5: case 0x6: return true;  // physical range, unit exponent, unit
      case 0x7:
        global_.reportSize = Unsigned(item, len);
        return global_.reportSize <= kMaxReportSizeBits;
      case 0x8:
        global_.reportId = Unsigned(item, len);
        numbered_ = true;
        return global_.reportId >= 1 && global_.reportId <= 255;
      case 0x9:
        global_.reportCount = Unsigned(item, len);
        return global_.reportCount <= kMaxReportCount;
      case 0xA:
        if (static_cast<int>(stack_.size()) >= kMaxGlobalStackDepth) return false;
        stack_.push_back(global_);
        return true;
      case 0xB:
        if (stack_.empty()) return false;
        global_ = stack_.back();
        stack_.pop_back();
        return true;
      default:
        return false;
    }
  }

  bool Local(uint8_t tag, const uint8_t* item, size_t len) {
    // A four-byte usage carries its own page; a shorter one takes the current page.
    auto full = [&] {
      const uint32_t v = Unsigned(item, len);
      return len == 4 ? v : (static_cast<uint32_t>(global_.usagePage) << 16) | (v & 0xFFFF);
    };
    switch (tag) {
      case 0x0:
        if (local_.usages.size() >= kMaxReportCount) return false;
        local_.usages.push_back(full());
        return true;
      case 0x1: local_.usageMin = full(); return true;
      case 0x2: local_.usageMax = full(); return true;
      case 0x3: case 0x4: case 0x5: case 0x7: case 0x8: case 0x9: case 0xA: return true;
      default: return false;
    }
  }

  HidDescriptorInfo Finish() {
    auto length = [this](int kind) -> uint16_t {
      uint64_t longest = 0;
      bool any = false;
      for (const auto& [id, bits] : reportBits_[kind]) {
        any = true;
        longest = std::max(longest, (bits + 7) / 8);
      }
      return any ? static_cast<uint16_t>(longest + 1) : 0;
    };
    info_.caps.InputReportByteLength = length(HidP_Input);
    info_.caps.OutputReportByteLength = length(HidP_Output);
    info_.caps.FeatureReportByteLength = length(HidP_Feature);
    auto count = [](const std::vector<HidCapEntry>& caps) {
      return static_cast<uint16_t>(std::min<size_t>(caps.size(), 0xFFFF));
    };
    for (const HidReportType kind : {HidP_Input, HidP_Output, HidP_Feature}) {
      info_.caps.Counts[ButtonCapsCount(kind)] = count(info_.buttonCaps[kind]);
      info_.caps.Counts[ValueCapsCount(kind)] = count(info_.valueCaps[kind]);
      info_.caps.Counts[DataIndicesCount(kind)] = nextDataIndex_[kind];
    }
    info_.numberedReports = numbered_;
    return info_;
  }

  HidDescriptorInfo info_;
  GlobalState global_;
  std::vector<GlobalState> stack_;
  LocalState local_;
  int depth_ = 0;
  bool sawApplication_ = false;
  bool numbered_ = false;
  std::array<std::map<uint32_t, uint64_t>, 3> reportBits_;
  std::array<uint16_t, 3> nextDataIndex_{};
};

}  // namespace

std::optional<HidDescriptorInfo> ParseReportDescriptor(const uint8_t* data, size_t size) {
  return Parser().Run(data, size);
}

}  // namespace quillet::hid
