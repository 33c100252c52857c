#pragma once
// How an operation on a programmer ends: exactly once, with success (and what it produced) or
// with one typed failure. Every front end consumes these values; none reads the log to learn
// what happened.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "programmer/IdentityCheck.h"

namespace quillet {

enum class Operation { Identify, Detect, Read, Write, Verify };

// What an operation was waiting for when the watchdog ran out.
enum class Phase {
  Answer,    // a reply to a request (identity, read start, write ready)
  Data,      // the read stream
  Stream,    // the image stream (reports the programmer stopped taking count as StreamStopped)
  Checksum,  // the verify reply after the whole image was sent
};

namespace failure {

// The programmer answered with its failure bit set.
struct FailureReply {
  uint8_t reply = 0;
};
// A report of the image stream was not taken within the write time-out.
struct StreamStopped {
  int64_t report = 0;  // 1-based
  int64_t reports = 0;
};
struct ChecksumMismatch {
  uint8_t local = 0;
  uint8_t device = 0;
};
// The chip read back differs from the image.
struct ReadBackMismatch {
  uint32_t address = 0;  // of the first difference
  uint8_t expected = 0;
  uint8_t actual = 0;
  uint32_t bytes = 0;  // that differ
  uint32_t compared = 0;
  uint32_t bitsOneToZero = 0;  // should be 1, read 0
  uint32_t bitsZeroToOne = 0;  // should be 0, read 1
};
// The identity reply says no chip answers on the connector.
struct NoChip {};
// The identity reply's check word is not the one the request asks for.
struct CheckWordMismatch {
  uint16_t received = 0;
  uint16_t expected = 0;
};
struct Timeout {
  Phase phase = Phase::Answer;
  int32_t received = 0;  // read-back bytes so far
  uint32_t size = 0;     // what the task asked for
};
// The programmer went away while the operation ran.
struct Removed {};
// The programmer's node may not be opened by this user; `hint` says how to get access (in English:
// the message catalogue has it in the user's language).
struct PermissionRefused {
  std::string node;
  std::string message;  // the system's
  std::string hint;
};
// Any other failure to open the programmer.
struct OpenFailed {
  std::string node;
  std::string message;
};
// A Write that sent nothing: no image, or one larger than the chip.
struct ImageRefused {
  enum Reason { Missing, Empty, TooLarge } reason = Empty;
  uint32_t size = 0;
  uint32_t capacity = 0;
};
// Another operation was started before this one ended.
struct Replaced {};

}  // namespace failure

using OperationFailure =
    std::variant<failure::FailureReply, failure::StreamStopped, failure::ChecksumMismatch,
                 failure::ReadBackMismatch, failure::NoChip, failure::CheckWordMismatch,
                 failure::Timeout, failure::Removed, failure::PermissionRefused,
                 failure::OpenFailed, failure::ImageRefused, failure::Replaced>;

struct OperationOutcome {
  Operation operation = Operation::Detect;
  std::optional<OperationFailure> failure;  // nothing: success
  std::optional<Identity> identity;         // Identify and Detect, also when they fail
  std::vector<uint8_t> flash;               // Read: the chip's flash; Verify: what was read back
  // Write: the programmer's checksum came back and agrees (with verify asked for); nothing when
  // verify was not asked for or no checksum came.
  std::optional<bool> checksumAgrees;

  bool Ok() const { return !failure; }
  template <class F>
  const F* As() const {
    return failure ? std::get_if<F>(&*failure) : nullptr;
  }
};

// The failure an identity stands for, checked in this order; nothing when it is good.
std::optional<OperationFailure> IdentityFailure(const Identity& id);

// The read-back's difference from the image, over the image's bytes (bytes the read-back lacks
// count as erased); nothing when they agree.
std::optional<failure::ReadBackMismatch> CompareReadBack(const std::vector<uint8_t>& image,
                                                         const std::vector<uint8_t>& flash);

}  // namespace quillet
