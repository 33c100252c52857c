#include "tests/support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace quillet::test {
namespace {

int ListenOnLoopback(int backlog, uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

ScriptedReply Reply(std::string bytes) { return ScriptedReply{{ScriptStep{0, std::move(bytes)}}, false}; }

LoopbackHttpServer::LoopbackHttpServer(std::vector<ScriptedReply> replies)
    : replies_(std::move(replies)) {
  listenFd_ = ListenOnLoopback(16, port_);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
  thread_.join();
  ::close(listenFd_);
  ::close(stopFd_);
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool LoopbackHttpServer::WaitReadable(int fd, int timeoutMs) {
  pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
  const int count = fd >= 0 ? 2 : 1;
  ::poll(fds, count, timeoutMs);
  return (fds[0].revents & POLLIN) == 0;
}

void LoopbackHttpServer::Serve() {
  size_t served = 0;
  while (WaitReadable(listenFd_, -1)) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const ScriptedReply& reply = replies_.empty() ? ScriptedReply{} : replies_[std::min(served, replies_.size() - 1)];
    ++served;
    ServeConnection(fd, reply);
    ::close(fd);
  }
}

void LoopbackHttpServer::ServeConnection(int fd, const ScriptedReply& reply) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (!WaitReadable(fd, -1)) return;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    head.append(buffer, static_cast<size_t>(n));
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(head.substr(0, head.find("\r\n\r\n") + 2));
  }
  for (const ScriptStep& step : reply.steps) {
    if (step.delayMs > 0 && !WaitReadable(-1, step.delayMs)) return;
    size_t sent = 0;
    while (sent < step.bytes.size()) {
      const ssize_t n = ::send(fd, step.bytes.data() + sent, step.bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }
  if (!reply.holdOpen) return;
  // Drain whatever the client sends until it closes or the server stops.
  while (WaitReadable(fd, -1)) {
    if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
  }
}

uint16_t ClosedPort() {
  uint16_t port = 0;
  ::close(ListenOnLoopback(1, port));
  return port;
}

UnansweredListener::UnansweredListener() {
  listenFd_ = ListenOnLoopback(0, port_);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  // Never accepted: these fill the queue, so the kernel drops the next handshake.
  for (int i = 0; i < 4; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers_.push_back(fd);
  }
  // Give the handshakes a moment to land in the queue.
  pollfd none{-1, 0, 0};
  ::poll(&none, 0, 50);
}

UnansweredListener::~UnansweredListener() {
  for (int fd : fillers_) ::close(fd);
  ::close(listenFd_);
}

}  // namespace quillet::test
