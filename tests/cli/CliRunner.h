#pragma once
// Runs the real quillet-cli binary, as a user or a Makefile would: arguments, an environment of
// its own (the QUILLET_ knobs of the caller's environment are not passed on), optionally as an
// unprivileged user, with stdout and stderr captured. A generous hang guard kills a process that
// never ends; it is not a timing check.
//
// QUILLET_TEST_CLI names another program to run in place of this build's quillet-cli:
// scripts/windows.sh runs the Windows build's quillet-cli.exe through Wine so, and the CR LF that
// ends a Windows program's text lines is read as a line end.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace quillet::test {

inline constexpr std::chrono::seconds kHangGuard{60};

// The program under test, and whether it is a Windows program.
inline std::string CliUnderTest() {
  const char* other = std::getenv("QUILLET_TEST_CLI");
  return other && *other ? other : QUILLET_CLI_BINARY;
}
inline bool CliIsWindowsProgram() { return CliUnderTest() != QUILLET_CLI_BINARY; }

struct CliRun {
  int exit = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

struct RunSettings {
  std::map<std::string, std::string> env;  // added to the caller's environment, or replacing its own
  bool unprivileged = false;               // when the tests run as root: as user nobody
  std::string cwd;
};

class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const RunSettings& settings = {}) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    // A variable of the settings replaces the caller's: a second one of the same name would be
    // shadowed by the first.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (entry.rfind("QUILLET_", 0) == 0 || settings.env.count(entry.substr(0, entry.find('=')))) continue;
      env.push_back(entry);
    }
    for (const auto& [k, v] : settings.env) env.push_back(k + "=" + v);
    std::vector<std::string> argv{CliUnderTest()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      if (!settings.cwd.empty() && ::chdir(settings.cwd.c_str()) != 0) ::_exit(126);
      if (settings.unprivileged && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(126);
      }
      ::execve(cargv[0], cargv.data(), cenv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    deadline_ = std::chrono::steady_clock::now() + kHangGuard;
  }
  ~CliProcess() {
    if (pid_ > 0 && !waited_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  void Signal(int signal) { ::kill(pid_, signal); }

  // The next whole line of stdout; nothing at its end or when the hang guard runs out.
  std::optional<std::string> NextLine() {
    for (;;) {
      if (const size_t nl = out.find('\n', taken_); nl != std::string::npos) {
        std::string line = out.substr(taken_, nl - taken_);
        taken_ = nl + 1;
        return line;
      }
      if (!Pump()) return std::nullopt;
    }
  }
  // Reads both streams until the process has closed them; false past the hang guard.
  bool Drain() {
    while (out_ >= 0 || err_ >= 0)
      if (!Pump()) return out_ < 0 && err_ < 0;
    return true;
  }
  // Until the stderr collected so far holds `text`; false at the end of the output or past the guard.
  bool WaitForStderr(const std::string& text) {
    while (err.find(text) == std::string::npos)
      if (!Pump()) return false;
    return true;
  }

  CliRun Finish() {
    if (!Drain()) ::kill(pid_, SIGKILL);
    return {Wait(), out, err};
  }

  std::string out;
  std::string err;

 private:
  // Takes what either stream has; false when both are closed or the guard has run out.
  bool Pump() {
    if (out_ < 0 && err_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
    Take(fds[0], out_, out);
    Take(fds[1], err_, err);
    return true;
  }
  static void Take(const pollfd& p, int& fd, std::string& into) {
    if (fd < 0 || !p.revents) return;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      const size_t from = into.empty() ? 0 : into.size() - 1;  // a CR may end the last read
      into.append(buffer, static_cast<size_t>(n));
      if (CliIsWindowsProgram())
        for (size_t cr; (cr = into.find("\r\n", from)) != std::string::npos;) into.erase(cr, 1);
    } else {
      ::close(fd);
      fd = -1;
    }
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    waited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool waited_ = false;
  size_t taken_ = 0;
  std::chrono::steady_clock::time_point deadline_;
};

// The binary's end-to-end tests run under a Chinese locale (tests/cli/CMakeLists.txt); those of
// quillet-cli's own English messages run it under an English one. An empty LANGUAGE leaves the
// choice to LC_ALL.
inline RunSettings InLocale(RunSettings s, const std::string& locale) {
  s.env["LANGUAGE"] = "";
  s.env["LC_ALL"] = locale;
  return s;
}
inline RunSettings InEnglish(RunSettings s) { return InLocale(std::move(s), "en_US.UTF-8"); }

inline CliRun RunCli(const std::vector<std::string>& args, const RunSettings& settings = {}) {
  CliProcess p(args, settings);
  return p.Finish();
}

}  // namespace quillet::test
