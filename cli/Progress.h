#pragma once
// Progress of the programmer's phases (reading, writing, verifying) on stderr: on a terminal one
// bar per phase redrawn in place, with bytes, rate and elapsed time; otherwise one line per phase
// when it ends; nothing when quiet. Messages printed meanwhile go on a line of their own.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace quillet::cli {

// Terminal columns of UTF-8 text: a character of three bytes or more (a Chinese one) takes two.
size_t TextColumns(const std::string& text);

// The bar's text for a terminal `width` columns wide.
std::string FormatProgressBar(const std::string& phase, uint64_t done, uint64_t total,
                              double seconds, int width);
// The one line a finished phase leaves.
std::string FormatPhaseLine(const std::string& phase, uint64_t done, uint64_t total, double seconds,
                            bool complete);

class Progress {
 public:
  enum class Mode { Silent, Lines, Bar };
  using Clock = std::chrono::steady_clock;
  // The bar's width in columns where the terminal's is not known.
  static constexpr int kFallbackWidth = 80;

  // `width`: the terminal's width in columns (none: kFallbackWidth).
  Progress(Mode mode, std::FILE* out, std::function<int()> width = {});

  void Start(const std::string& phase, uint64_t total);
  void Update(uint64_t done);
  // Ends the phase; `complete` false when it stopped short.
  void Finish(bool complete);
  // A message on a line of its own (a bar being drawn is cleared first and drawn again after).
  void Message(const std::string& line);
  // The same, printed even when silent.
  void Error(const std::string& line);
  Mode GetMode() const { return mode_; }

 private:
  void Draw(bool force);
  double Seconds() const;

  Mode mode_;
  std::FILE* out_;
  std::function<int()> width_;
  bool active_ = false;
  std::string phase_;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  Clock::time_point start_{};
  Clock::time_point lastDraw_{};
};

}  // namespace quillet::cli
