#pragma once
// Byte layouts exchanged with the programmer, and its chip catalogue. Every record is kept as
// the bytes that go on the wire; integers inside are little-endian whatever the host is.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillet {

// The programmer's USB identity.
inline constexpr uint16_t kProgrammerVendorId = 0x04D8;
inline constexpr uint16_t kProgrammerProductId = 0x003F;

inline constexpr size_t kReportSize = 65;   // report ID byte, then the payload
inline constexpr size_t kPayloadSize = 64;
inline constexpr size_t kImageBufferSize = 524288;  // each of the engine's two image buffers
// An erased flash byte: what an image holds wherever nothing was loaded or read.
inline constexpr uint8_t kErasedByte = 0xFF;

inline constexpr uint8_t OP_CONNECT = 0x01;
inline constexpr uint8_t OP_READ = 0x05;
inline constexpr uint8_t OP_WRITE = 0x06;
inline constexpr uint8_t OP_VERIFY = 0x07;
inline constexpr uint8_t OP_FAIL = 0x80;

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct ConnectRequest {
  static constexpr std::array<uint8_t, 6> kBytes{OP_CONNECT, 0x00, 0x02, 0x02, 0x04, 0x00};
  std::array<uint8_t, 6> bytes = kBytes;
};

// The word an identity reply must carry, derived from the request it answers.
inline uint16_t ExpectedCheckWord(const ConnectRequest& r) {
  return static_cast<uint16_t>((r.bytes[2] ^ r.bytes[3]) | LoadU16(&r.bytes[4]));
}

// The one task record. Operations write only their own fields; every other byte keeps the value
// the last operation left, which the programmer sees (bytes 18-21 in particular).
struct ProgrammerTask {
  static constexpr size_t kOp = 0, kVerify = 1, kResetRun = 3, kReserved4 = 4, kSize = 8,
                          kEncrypt = 12, kErase = 13, kReadMarker = 18;
  std::array<uint8_t, 24> bytes{};

  uint8_t Op() const { return bytes[kOp]; }
  uint32_t Size() const { return LoadU32(&bytes[kSize]); }
  void SetSize(uint32_t size) { StoreU32(&bytes[kSize], size); }
};

// The operator's four task options, each sent as exactly 0 or 1.
struct TaskFlags {
  bool verify = false;
  bool resetRun = false;
  bool erase = false;
  bool encrypt = false;
};

// Fills the fields every task writes. A read task also sets bytes 18-21 to FF, which then stay
// so for every later task; a write task leaves them as the last read task left them.
inline void FillTask(ProgrammerTask& t, uint8_t op, TaskFlags flags, uint32_t size) {
  t.bytes[ProgrammerTask::kOp] = op;
  StoreU32(&t.bytes[ProgrammerTask::kReserved4], 0);
  t.SetSize(size);
  t.bytes[ProgrammerTask::kVerify] = flags.verify;
  t.bytes[ProgrammerTask::kResetRun] = flags.resetRun;
  t.bytes[ProgrammerTask::kErase] = flags.erase;
  t.bytes[ProgrammerTask::kEncrypt] = flags.encrypt;
  t.bytes[2] = t.bytes[14] = t.bytes[15] = 0;
  if (op == OP_READ) StoreU32(&t.bytes[ProgrammerTask::kReadMarker], 0xFFFFFFFFu);
}

// One output report: report ID 0, then at most 64 payload bytes, zero-filled.
inline std::array<uint8_t, kReportSize> FrameOutputReport(const uint8_t* bytes, size_t length) {
  std::array<uint8_t, kReportSize> report{};
  const size_t n = length < kPayloadSize ? length : kPayloadSize;
  for (size_t i = 0; i < n; ++i) report[1 + i] = bytes[i];
  return report;
}

// The flash sizes of the catalogue's chips.
inline constexpr uint32_t kFlash16K = 16384;
inline constexpr uint32_t kFlash32K = 32768;

struct ChipParams {
  static constexpr uint32_t kDefaultChunkSize = 64;
  static constexpr uint32_t kDefaultFlashSize = kFlash16K;
  uint32_t ChunkSize = kDefaultChunkSize;
  uint32_t FlashSize = kDefaultFlashSize;
};

struct ChipInfo {
  std::string_view name;
  uint32_t flashSize;
};

inline constexpr std::array<ChipInfo, 3> kChipCatalogue{{
    {"NRF24LE1_16K", kFlash16K},
    {"NRF24LU1_16K", kFlash16K},
    {"NRF24LU1_32K", kFlash32K},
}};

// 0x1A, then every byte XORed in: the check both sides compute over a written image.
inline uint8_t XorChecksum(const uint8_t* data, size_t count) {
  uint8_t c = 0x1A;
  for (size_t i = 0; i < count; ++i) c ^= data[i];
  return c;
}

}  // namespace quillet
