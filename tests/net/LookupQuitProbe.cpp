// A small program for the shutdown test: it starts the update query towards a host whose name
// lookup never ends, says so on stdout, and quits when told to on stdin, as the window closing
// would. The lookup is made to hang inside a private network namespace of its own, whose
// resolv.conf names a resolver on 127.0.0.1 that reads queries and never answers.
//
// Exit status: 0 after a normal quit, 77 when this machine allows no private namespace (the
// caller skips), 1 on any other failure.

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "net/HttpClient.h"

namespace {

constexpr int kCannotIsolate = 77;

bool WriteFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// Must run before any thread exists: a process with threads cannot enter a user namespace.
bool EnterPrivateNetwork() {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (uid == 0) {
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
  } else {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
    WriteFile("/proc/self/setgroups", "deny");
    if (!WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return false;
  }
  // Nothing mounted here may reach the rest of the system.
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool BringUpLoopback() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return ok;
}

// Replaces resolv.conf, in this namespace only, by one naming 127.0.0.1 with a long time-out.
bool UseLoopbackResolver(const std::string& scratch) {
  const std::string conf = scratch + "/resolv.conf";
  FILE* f = std::fopen(conf.c_str(), "w");
  if (!f) return false;
  std::fputs("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n", f);
  std::fclose(f);
  return ::mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
}

// A resolver that reads and never answers.
int SilentResolver() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  return fd;
}

bool QueryArrives(int resolver, int limitMs) {
  pollfd p{resolver, POLLIN, 0};
  if (::poll(&p, 1, limitMs) != 1) return false;
  char packet[512];
  return ::recv(resolver, packet, sizeof packet, 0) > 0;
}

}  // namespace

int main(int argc, char** argv) {
  char scratch[] = "/tmp/quillet-lookup-XXXXXX";
  if (!::mkdtemp(scratch)) return 1;
  const bool isolated = EnterPrivateNetwork() && BringUpLoopback() && UseLoopbackResolver(scratch);
  const std::string conf = std::string(scratch) + "/resolv.conf";
  // The mount keeps the file reachable; the directory is not needed any more.
  ::unlink(conf.c_str());
  ::rmdir(scratch);
  if (!isolated) return kCannotIsolate;
  const int resolver = SilentResolver();
  if (resolver < 0) return kCannotIsolate;

  QCoreApplication app(argc, argv);
  auto client = std::make_unique<quillet::THttpClient>();
  client->URL = "http://update.quillet.example/Upgrade/Info/n/tarnwick/json/1/version/200";
  if (!client->Read(false)) return 1;
  if (!QueryArrives(resolver, 10000)) return 1;
  std::cout << "lookup pending" << std::endl;

  std::string line;
  std::getline(std::cin, line);  // the window closes
  const auto start = std::chrono::steady_clock::now();
  client.reset();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::cout << "client destroyed in " << took.count() << " ms" << std::endl;
  ::close(resolver);
  return 0;
}
