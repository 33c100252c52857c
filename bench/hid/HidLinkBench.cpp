// Host cost of the HID link over the simulated backend: one report round trip, and whole reads
// and writes driven by the engine, without pacing (host overhead only) and with the 1 ms per
// report pacing of a full-speed interrupt endpoint. The counter link_limit_ms is the pacing's own
// floor for the transfer: one report of payload per interval.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "engine/Cpro.h"
#include "engine/Wire.h"
#include "hid/HidIO.h"
#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"

namespace quillet {
namespace {

void BM_ReportRoundTrip(benchmark::State& state) {
  auto platform = std::make_shared<sim::SimHidPlatform>();
  sim::SimHidDeviceConfig c;
  c.vendorId = 0x1234;
  c.productId = 0x5678;
  c.reportDescriptor = sim::VendorReportDescriptor64();
  c.model = std::make_shared<sim::SimQueueModel>(/*echo=*/true);
  platform->Attach(c);
  hid::THidIO hid(nullptr, platform);
  std::mutex mutex;
  std::condition_variable arrived;
  uint64_t received = 0;
  hid.OnAfterReceive = [&](hid::TBaseIO*, const uint8_t*, uint32_t) {
    std::lock_guard lock(mutex);
    ++received;
    arrived.notify_one();
  };
  hid.Update();
  hid.SetDeviceIndex(0);
  hid.SetActive(true);
  const uint8_t report[65] = {0, 1, 2, 3};
  uint64_t sent = 0;
  for (auto _ : state) {
    hid.WriteReport(report, sizeof report);
    ++sent;
    std::unique_lock lock(mutex);
    arrived.wait(lock, [&] { return received == sent; });
  }
  hid.SetActive(false);
}
BENCHMARK(BM_ReportRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The engine, the component and the programmer wired as the main window wires them.
class Link {
 public:
  explicit Link(std::chrono::microseconds interval) {
    sim::SimProgrammerConfig config;
    config.flashSize = 32768;
    programmer_ = std::make_shared<sim::SimProgrammer>(config);
    platform_->Attach(sim::ProgrammerDeviceConfig(programmer_, interval));
    engine_.SetSendReport([this](const uint8_t* bytes, size_t length) {
      const auto report = FrameOutputReport(bytes, length);
      hid_.WriteReport(report.data(), static_cast<unsigned>(report.size()));
    });
    engine_.SetEngineEvent([this](const EngineEvent& e) {
      const auto* read = std::get_if<ReadProgressEvent>(&e);
      if (!read && !std::holds_alternative<VerifyEvent>(e)) return;
      std::lock_guard lock(mutex_);
      if (read) readProgress_ = read->received;
      else ++verdicts_;
      changed_.notify_all();
    });
    hid_.OnAfterReceive = [this](hid::TBaseIO*, const uint8_t* report, uint32_t received) {
      engine_.HandleReport(report + 1, received - 1);
    };
    hid_.Update();
    hid_.SetDeviceIndex(0);
    hid_.SetActive(true);
    engine_.SelectChip("NRF24LU1_32K");
    engine_.EditWriteImage([](uint8_t* image, size_t) {
      for (size_t i = 0; i < 16384; ++i) image[i] = static_cast<uint8_t>(i * 7);
    });
  }
  ~Link() { hid_.SetActive(false); }

  void Read() {
    {
      std::lock_guard lock(mutex_);
      readProgress_ = 0;
    }
    engine_.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_READ, {}, 32768); });
    engine_.SendTask();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return readProgress_ == 32768; });
  }

  void Write() {
    int before;
    {
      std::lock_guard lock(mutex_);
      before = verdicts_;
    }
    engine_.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_WRITE, {true, false, true, false}, 16384); });
    engine_.SendTask();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return verdicts_ > before; });
  }

 private:
  std::shared_ptr<sim::SimProgrammer> programmer_;
  std::shared_ptr<sim::SimHidPlatform> platform_ = std::make_shared<sim::SimHidPlatform>();
  CPro engine_;
  hid::THidIO hid_{nullptr, platform_};
  std::mutex mutex_;
  std::condition_variable changed_;
  int32_t readProgress_ = 0;
  int verdicts_ = 0;
};

// The time the pacing alone takes to carry `bytes` (range 0: microseconds per report).
void CountLinkLimit(benchmark::State& state, size_t bytes) {
  const auto reports = static_cast<double>((bytes + kPayloadSize - 1) / kPayloadSize);
  state.counters["link_limit_ms"] = reports * static_cast<double>(state.range(0)) / 1000.0;
}

void BM_Read32KiB(benchmark::State& state) {
  Link link{std::chrono::microseconds(state.range(0))};
  link.Read();  // first use pays for thread start-up and first touches of the buffers
  for (auto _ : state) link.Read();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 32768);
  CountLinkLimit(state, 32768);
}
BENCHMARK(BM_Read32KiB)->ArgName("pacing_us")->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read32KiB)->ArgName("pacing_us")->Arg(1000)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Write16KiBVerify(benchmark::State& state) {
  Link link{std::chrono::microseconds(state.range(0))};
  link.Write();
  for (auto _ : state) link.Write();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16384);
  CountLinkLimit(state, 16384);
}
BENCHMARK(BM_Write16KiBVerify)->ArgName("pacing_us")->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write16KiBVerify)->ArgName("pacing_us")->Arg(1000)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillet
