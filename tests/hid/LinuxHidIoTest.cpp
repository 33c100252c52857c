#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "hid/HidIO.h"
#include "hid/LinuxHidPlatform.h"
#include "sim/SimHidModels.h"
#include "tests/hid/HidTestSupport.h"
#include "tests/support/FakeHidTree.h"

namespace quillet::hid {
namespace {

using test::EventRecorder;
using test::FakeHidTree;

const std::vector<uint8_t> kNumbered33 = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08,
                                          0x85, 0x01, 0x95, 0x08, 0x81, 0x02, 0x85, 0x02, 0x95,
                                          0x20, 0x81, 0x02, 0x95, 0x40, 0x91, 0x02, 0xC0};

// A hidraw node played by one end of a SOCK_SEQPACKET pair, which keeps report boundaries as
// hidraw does; the test is the device at the other end.
class LinuxIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets_), 0);
    ASSERT_EQ(::fcntl(sockets_[0], F_SETFL, O_NONBLOCK), 0);
  }

  void TearDown() override {
    if (hid_) hid_->SetActive(false);
    hid_.reset();
    if (sockets_[0] >= 0) ::close(sockets_[0]);
    if (peer() >= 0) ::close(peer());
  }

  void Start(std::vector<uint8_t> descriptor = sim::VendorReportDescriptor64()) {
    FakeHidTree::Node node;
    node.descriptor = std::move(descriptor);
    tree_.Add(node);
    LinuxNodeOps ops = DefaultNodeOps();
    auto realOpen = ops.open;
    const int host = sockets_[0];
    ops.open = [realOpen, host](const std::string& path, int flags) {
      if (flags & O_PATH) return realOpen(path, flags);
      return ::fcntl(host, F_DUPFD_CLOEXEC, 0);
    };
    hid_ = std::make_unique<THidIO>(
        nullptr, std::make_shared<LinuxHidPlatform>(LinuxHidPaths{tree_.Sys(), tree_.Dev()}, ops));
    events_.Bind(*hid_);
    hid_->Update();
    hid_->SetDeviceIndex(0);
    hid_->SetActive(true);
    ASSERT_TRUE(hid_->GetActive());
    // From here only the connection holds the host end.
    ::close(sockets_[0]);
    sockets_[0] = -1;
  }

  int peer() const { return sockets_[1]; }

  void Send(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::send(peer(), bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }

  // True when the host end is gone: the peer reads end-of-file.
  bool WaitForHostClosed() {
    pollfd p{peer(), POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return false;
    char c;
    return ::recv(peer(), &c, 1, MSG_DONTWAIT) == 0;
  }

  FakeHidTree tree_;
  int sockets_[2] = {-1, -1};
  std::unique_ptr<THidIO> hid_;
  EventRecorder events_;
};

TEST_F(LinuxIo, WrittenReportsReachTheNodeWholeWithTheirIdByte) {
  Start();
  std::vector<uint8_t> report(65);
  for (size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i);
  report[0] = 0;
  ASSERT_TRUE(hid_->WriteReport(report.data(), 65));
  uint8_t got[128];
  ASSERT_EQ(::recv(peer(), got, sizeof got, 0), 65);
  EXPECT_EQ(std::vector<uint8_t>(got, got + 65), report);
}

struct InputCase {
  const char* name;
  bool numbered;
  std::vector<uint8_t> sent;      // what the node returns to read()
  std::vector<uint8_t> expected;  // what OnAfterReceive gets
};

std::vector<uint8_t> Bytes(size_t n, uint8_t first, uint8_t fill) {
  std::vector<uint8_t> v(n, fill);
  if (n) v[0] = first;
  return v;
}

class LinuxInput : public LinuxIo, public ::testing::WithParamInterface<InputCase> {};

TEST_P(LinuxInput, DeliversTheIdByteFirstAndTheFullInputLength) {
  const InputCase& c = GetParam();
  if (c.numbered) Start(kNumbered33);
  else Start();
  Send(c.sent);
  ASSERT_TRUE(events_.WaitFor([&] { return events_.reports.size() == 1; }));
  std::lock_guard lock(events_.mutex);
  EXPECT_EQ(events_.reports[0], c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, LinuxInput,
    ::testing::Values(
        // hidraw leaves out report ID 0: the layer puts it back in front.
        InputCase{"unnumbered_full", false, Bytes(64, 0x11, 0x22),
                  [] { auto v = Bytes(65, 0, 0x22); v[1] = 0x11; return v; }()},
        InputCase{"unnumbered_short_zero_filled", false, {1, 2, 3},
                  [] { std::vector<uint8_t> v(65, 0); v[1] = 1, v[2] = 2, v[3] = 3; return v; }()},
        // Numbered reports come with their ID; the buffer is the longest report, 33 bytes.
        InputCase{"numbered_long", true, Bytes(33, 0x02, 0x5A), Bytes(33, 0x02, 0x5A)},
        InputCase{"numbered_short", true, Bytes(9, 0x01, 0x77),
                  [] { auto v = Bytes(33, 0x01, 0); for (int i = 1; i < 9; ++i) v[i] = 0x77; return v; }()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinuxIo, PeerCloseIsAnUnplugHandledOnTheReader) {
  Start();
  ::close(sockets_[1]);
  sockets_[1] = -1;
  ASSERT_TRUE(events_.WaitFor([&] { return events_.closes == 1; }));
  EXPECT_NE(events_.closeThreads[0], std::this_thread::get_id());
  EXPECT_FALSE(hid_->GetActive());
  hid_->SetActive(false);
  EXPECT_EQ(events_.closes, 1);
  EXPECT_TRUE(events_.reports.empty());
}

TEST_F(LinuxIo, CloseEndsThePendingReadAndReleasesTheNode) {
  Start();
  hid_->SetActive(false);
  EXPECT_EQ(events_.closes, 1);
  // The descriptor is closed once the reader has let go of it, and by no one before.
  EXPECT_TRUE(WaitForHostClosed());
  EXPECT_TRUE(events_.reports.empty());
  EXPECT_FALSE(hid_->WriteReport(std::vector<uint8_t>(65).data(), 65));
}

TEST_F(LinuxIo, AWriteBlockedOnAFullNodeEndsWhenTheConnectionCloses) {
  Start();
  // The peer never reads: the writer fills the socket and then waits in poll.
  std::atomic<int> written{0};
  std::thread writer([&] {
    const std::vector<uint8_t> report(65, 0);
    while (hid_->WriteReport(report.data(), 65)) ++written;
  });
  while (written < 10) std::this_thread::yield();
  hid_->SetActive(false);
  writer.join();  // returns: the blocked write was woken and failed
  EXPECT_FALSE(hid_->GetActive());
}

TEST_F(LinuxIo, AWriteTheNodeDoesNotTakeWithinTheLimitFailsAndTheConnectionStaysOpen) {
  Start();
  hid_->WriteTimeout = 50;
  // The peer never reads, so the node fills up; the write after that must give up, not hang.
  const std::vector<uint8_t> report(65, 0);
  int written = 0;
  while (hid_->WriteReport(report.data(), 65)) ASSERT_LT(++written, 1 << 20);
  EXPECT_GT(written, 0);
  EXPECT_TRUE(hid_->GetActive());
  // Once the device takes reports again, writing goes on.
  std::vector<uint8_t> sink(65);
  for (int i = 0; i < written; ++i) ASSERT_GT(::recv(peer(), sink.data(), sink.size(), 0), 0);
  EXPECT_TRUE(hid_->WriteReport(report.data(), 65));
}

TEST_F(LinuxIo, ControlReportsFailOnANodeThatCannotDoThem) {
  Start();
  // A socket answers the hidraw ioctls with ENOTTY: each call reports failure, nothing breaks.
  std::vector<uint8_t> buffer(65, 0);
  EXPECT_FALSE(hid_->ReadFeature(buffer.data(), 65));
  EXPECT_FALSE(hid_->WriteFeature(buffer.data(), 65));
  EXPECT_FALSE(hid_->GetInputReport(buffer.data(), 65));
  EXPECT_FALSE(hid_->SetOutputReport(buffer.data(), 65));
  EXPECT_TRUE(hid_->GetActive());
  hid_->SetActive(false);
  EXPECT_FALSE(hid_->ReadFeature(buffer.data(), 65));
}

}  // namespace
}  // namespace quillet::hid
