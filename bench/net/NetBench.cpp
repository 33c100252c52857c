// Costs of the update check's moving parts: a call from a worker onto the UI thread, and a
// whole GET over loopback (thread start, request, body in TransferBufferSize reads, completion).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <cstdlib>
#include <string>

#include "net/HttpClient.h"
#include "net/WorkerThread.h"
#include "tests/support/LoopbackHttpServer.h"

namespace quillet {
namespace {

void BM_SynchronizeRoundTrip(benchmark::State& state) {
  constexpr int kCalls = 1000;
  TWorkerThread worker;
  std::atomic<int> served{0};
  worker.SetOnExecute([&](TComponent*) {
    for (int i = 0; i < kCalls; ++i) worker.Synchronize([&] { served.fetch_add(1, std::memory_order_relaxed); });
  });
  for (auto _ : state) {
    worker.Execute();
    worker.WaitFor();
  }
  state.SetItemsProcessed(state.iterations() * kCalls);
  if (served.load() != static_cast<int>(state.iterations()) * kCalls) state.SkipWithError("calls lost");
}
BENCHMARK(BM_SynchronizeRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FetchBody(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  test::LoopbackHttpServer server({test::Reply("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) +
                                               "\r\n\r\n" + std::string(size, 'b'))});
  THttpClient client;
  client.URL = server.BaseUrl() + "/body";
  int32_t received = 0;
  client.OnDone = [&](TComponent*, const std::string&, int32_t fileSize, TMemoryStream&) { received = fileSize; };
  for (auto _ : state) {
    received = -1;
    client.Read(false);
    // The completion arrives as an event, which wakes this wait.
    while (client.Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (received != static_cast<int32_t>(size)) {
      state.SkipWithError("request failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}
BENCHMARK(BM_FetchBody)->Arg(4 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quillet

int main(int argc, char** argv) {
  unsetenv("http_proxy");
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
