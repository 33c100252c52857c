// Arbitrary report sequences into the engine, interleaved with what the UI thread may do.
// Input: 5 bytes of task set-up (chip, u32 Size), then records of one control byte followed by
// up to 64 payload bytes; the control's low 7 bits give the payload length (cut at 64), bit 7
// asks for a UI action first.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/Cpro.h"

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CPro engine;  // one engine for the run, as in the program: state carries over
  static bool hooked = false;
  if (!hooked) {
    engine.SetSendReport([](const uint8_t* bytes, size_t length) {
      if (length > kPayloadSize && length != 0) std::abort();  // the engine never sends more than a chunk
      volatile uint8_t sink = length ? bytes[length - 1] : 0;
      (void)sink;
    });
    engine.SetEngineEvent([](int code, const void* payload) {
      if (code == EVT_LOG) (void)std::strlen(static_cast<const char*>(payload));
    });
    engine.SetAppendLog([](const std::string&) {});
    hooked = true;
  }
  if (size < 5) return 0;
  engine.SelectChip(kChipCatalogue[data[0] % 3].name);
  const uint32_t taskSize = LoadU32(data + 1);
  engine.EditTask([&](ProgrammerTask& t) { FillTask(t, data[0] & 0x80 ? OP_READ : OP_WRITE, {}, taskSize); });
  data += 5;
  size -= 5;

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
