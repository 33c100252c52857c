#pragma once
// Test scaffolding: a tiny server on 127.0.0.1 that plays scripted raw bytes back, one script
// per accepted connection, and remembers the request heads it received.

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillet::test {

struct ScriptStep {
  int delayMs = 0;  // waited before the bytes are sent
  std::string bytes;
};

struct ScriptedReply {
  std::vector<ScriptStep> steps;
  bool holdOpen = false;  // keep the connection open after the last step, until the server stops
};

// A reply sent at once, then the connection is closed.
ScriptedReply Reply(std::string bytes);

class LoopbackHttpServer {
 public:
  // Connection n gets replies[n]; later connections get the last one.
  explicit LoopbackHttpServer(std::vector<ScriptedReply> replies);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Requests() const;

 private:
  void Serve();
  void ServeConnection(int fd, const ScriptedReply& reply);
  bool WaitReadable(int fd, int timeoutMs);  // false when stopping

  std::vector<ScriptedReply> replies_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on: connecting is refused.
uint16_t ClosedPort();

// A listener whose accept queue is full, so a new connection attempt is never answered.
class UnansweredListener {
 public:
  UnansweredListener();
  ~UnansweredListener();
  UnansweredListener(const UnansweredListener&) = delete;
  UnansweredListener& operator=(const UnansweredListener&) = delete;
  uint16_t Port() const { return port_; }

 private:
  int listenFd_ = -1;
  std::vector<int> fillers_;
  uint16_t port_ = 0;
};

}  // namespace quillet::test
