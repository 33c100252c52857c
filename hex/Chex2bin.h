#pragma once
// CHex2Bin turns an Intel HEX file into a flat image: byte index = address, every byte no data
// record sets holds FillByte. One Convert call checks the whole file, works out the image length L,
// builds the image, writes it to a binary side file and copies it into the caller's buffer.
//
// Where the format leaves things open, the converter decides as follows:
// - A data byte whose address is at or beyond L is dropped; the image is never longer than L.
// - A record whose fields would run past the end of the record area (that is, into the end marker
//   or past the end of the file) is not read; the checking pass stops there with result 3 and the
//   record adds nothing to the running sum.
// - A hex digit other than 0-9, A-F, a-f counts as the digit 0, so such a pair still has a value
//   and takes part in the checksum. The record type is taken from its second character: only the
//   characters '0' to '5' name a type, anything else (a non-hex character included) gives result 4.
// - A type-2 or type-4 record with fewer than two data bytes reads the missing bytes as 0.
// - A side file that opens but cannot be written completely (a full disk) gives result 5 like one
//   that cannot be opened; the destination is still filled.
// - L never exceeds the larger of half the file size and 0xFFFF + 0xFF, so the image is at most a
//   small multiple of the file's size however hostile the file.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillet {

// The end record. The converter reads only what precedes its first occurrence.
inline constexpr std::string_view kIntelHexEndRecord = ":00000001FF";

// What an image byte no data record sets holds, unless a caller changes FillByte.
inline constexpr std::uint8_t kHexFillByte = 0xFF;

class CHex2Bin {
 public:
  // Result codes of Convert; each has an English message (ResultMessage).
  enum : std::int32_t {
    kSuccess = 0,
    kOpenHexError = 1,
    kEofError = 2,
    kChecksumError = 3,
    kWrongLabel = 4,
    kWriteDestError = 5,
    kBufferOverflow = 6,
    kLengthNull = 7,
    kLengthOnly = 8,
  };

  std::uint8_t FillByte = kHexFillByte;  // value of every image byte no data record sets
  std::uint32_t BinLength = 0;   // L of the last conversion that passed its checking pass
  std::int32_t LastResult = -1;  // result code of the last conversion (-1: none yet)
  std::string ResultText;        // message of LastResult
  // Byte offset in the file of the colon of the record the checking pass stopped at, for results
  // 3 and 4 (-1 otherwise), so that a caller can name the line of a broken file.
  std::int64_t FailedRecordOffset = -1;

  // Converts the HEX file at hexPath.
  // binPath: the side file to write the image to (nullopt: none).
  // length: in, the capacity (0: no limit; otherwise the most bytes written to the side file and
  //   to dest); out, the image length L. nullptr: none.
  // dest: receives the image's first min(L, capacity) bytes (nullptr: none).
  // Returns the result code, also stored in LastResult with its message in ResultText.
  std::int32_t Convert(const std::filesystem::path& hexPath,
                       const std::optional<std::filesystem::path>& binPath,
                       std::uint32_t* length, std::uint8_t* dest);

  // The same with the HEX file's bytes already in memory (the file read cannot fail).
  std::int32_t ConvertBytes(std::span<const std::uint8_t> fileBytes,
                            const std::optional<std::filesystem::path>& binPath,
                            std::uint32_t* length, std::uint8_t* dest);

  // The English message of a result code ("" for a code that has none).
  static const char* ResultMessage(std::int32_t code);

 private:
  std::int32_t Finish(std::int32_t result);
};

}  // namespace quillet
