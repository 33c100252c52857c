// Arbitrary report sequences into the engine, interleaved with what the UI thread may do.
// Input: 4 bytes of set-up, then records of one control byte followed by up to 64 payload bytes.
// Set-up: byte 0 picks the chip (low bits) and the task (bit 7: read, else write); bytes 1-2 give
// the task's Size, up to kLargestSize; byte 3, when not zero, is the number of the report send
// that fails, as a device that stops taking reports does.
//
// Sizes stay small: the engine treats every Size alike apart from its 64-byte steps, while each
// stream report and checksummed byte costs time, so large sizes would only slow the search. The
// ends of the 512 KiB buffers are the engine tests' business. A record's control byte gives the payload length in its low 7
// bits (cut at 64); bit 7 asks for a UI action first.
//
// One engine serves the whole run, as in the program; each input first puts it back into the
// same known state, so that every input behaves the same whenever it runs.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/Cpro.h"

using namespace quillet;

namespace {

constexpr uint32_t kLargestSize = 1024;  // 16 reports

uint32_t sendsLeft = 0;  // 0: every send succeeds; else the send that brings it to 0 fails

CPro& Engine() {
  static CPro* engine = [] {
    auto* e = new CPro;
    e->SetSendReport([](const uint8_t* bytes, size_t length) {
      if (length > kPayloadSize || length == 0) std::abort();  // never more than one chunk
      volatile uint8_t sink = bytes[length - 1];
      (void)sink;
      return sendsLeft == 0 || --sendsLeft != 0;
    });
    // Every event is looked at whole, as the log's formatter would.
    e->SetEngineEvent([](const EngineEvent& event) {
      volatile size_t index = event.index();
      (void)index;
    });
    return e;
  }();
  return *engine;
}

// Idle, no bytes received, the task record all zero but for the input's fields, the chosen chip.
// The write image is never edited here, so it stays as built; the read image is never read back
// by the engine itself.
void Reset(CPro& engine, const ChipInfo& chip, uint8_t op, uint32_t size) {
  engine.SetState(Idle);
  engine.SelectChip(chip.name);
  engine.EditTask([](ProgrammerTask& t) {
    t.bytes.fill(0);
    FillTask(t, OP_WRITE, {}, 0);
  });
  // A write-ready reply with Size 0 sets Received to 0 and sends nothing.
  const uint8_t writeReady[1] = {OP_WRITE};
  engine.HandleReport(writeReady, sizeof writeReady);
  engine.EditTask([&](ProgrammerTask& t) { FillTask(t, op, {}, size); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  CPro& engine = Engine();
  const ChipInfo& chip = kChipCatalogue[(data[0] & 0x7F) % 3];
  const uint32_t taskSize = LoadU16(data + 1) % (kLargestSize + 1);
  sendsLeft = 0;
  Reset(engine, chip, data[0] & 0x80 ? OP_READ : OP_WRITE, taskSize);
  sendsLeft = data[3];
  data += 4;
  size -= 4;

  while (size > 0) {
    const uint8_t control = *data++;
    --size;
    if (control & 0x80) {
      switch (control % 3) {
        case 0: engine.Connect(); break;
        case 1: engine.SetState(Idle); break;
        default: engine.SendTask(); break;
      }
    }
    size_t length = control & 0x7F;
    if (length > kPayloadSize) length = kPayloadSize;
    if (length > size) length = size;
    // An exact-size copy, so the sanitizer sees any read past what was given.
    uint8_t* payload = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    std::memcpy(payload, data, length);
    engine.HandleReport(payload, length);
    std::free(payload);
    data += length;
    size -= length;

    const int32_t received = engine.Received();
    if (received < 0 || static_cast<size_t>(received) > kImageBufferSize) std::abort();
    const EngineState state = engine.State();
    if (state != Idle && state != ReadStream) std::abort();
  }
  return 0;
}
