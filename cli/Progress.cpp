#include "cli/Progress.h"

#include <algorithm>

#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

namespace {

using logtext::Say;
using logtext::Translate;

std::string Rate(uint64_t bytes, double seconds) {
  char text[32];
  if (seconds <= 0) return "-- KiB/s";
  std::snprintf(text, sizeof text, "%.1f KiB/s", static_cast<double>(bytes) / 1024.0 / seconds);
  return text;
}

}  // namespace

size_t TextColumns(const std::string& text) {
  size_t columns = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) columns += byte >= 0xE0 ? 2 : 1;
  }
  return columns;
}

std::string FormatProgressBar(const std::string& phase, uint64_t done, uint64_t total,
                              double seconds, int width) {
  char tail[96];
  std::snprintf(tail, sizeof tail, " %llu/%llu B  %s  %.1f s", static_cast<unsigned long long>(done),
                static_cast<unsigned long long>(total), Rate(done, seconds).c_str(), seconds);
  std::string head = Translate(phase.c_str());
  const size_t headColumns = std::max<size_t>(TextColumns(head), 10);
  head.append(headColumns - TextColumns(head), ' ');
  // The bar takes what the text leaves, but never less than 10 cells.
  const int cells = std::max(10, width - static_cast<int>(headColumns + std::char_traits<char>::length(tail)) - 3);
  const uint64_t clamped = std::min(done, total);
  const int filled = total ? static_cast<int>(clamped * static_cast<uint64_t>(cells) / total) : cells;
  return head + "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(cells - filled), '-') + "]" + tail;
}

std::string FormatPhaseLine(const std::string& phase, uint64_t done, uint64_t total, double seconds,
                            bool complete) {
  std::string line = Say("%s: %llu of %llu bytes in %.2f s, %s", Translate(phase.c_str()),
                         static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), seconds,
                         Rate(done, seconds).c_str());
  if (!complete) line += Translate(", stopped short");
  return line;
}

Progress::Progress(Mode mode, std::FILE* out, std::function<int()> width)
    : mode_(mode), out_(out), width_(std::move(width)) {}

double Progress::Seconds() const {
  return std::chrono::duration<double>(Clock::now() - start_).count();
}

void Progress::Start(const std::string& phase, uint64_t total) {
  if (active_) Finish(false);
  active_ = true;
  phase_ = phase;
  total_ = total;
  done_ = 0;
  start_ = Clock::now();
  lastDraw_ = {};
  Draw(true);
}

void Progress::Update(uint64_t done) {
  if (!active_) return;
  done_ = done;
  Draw(false);
}

void Progress::Finish(bool complete) {
  if (!active_) return;
  if (complete) done_ = total_;
  if (mode_ == Mode::Bar) {
    Draw(true);
    std::fputc('\n', out_);
  } else if (mode_ == Mode::Lines) {
    std::fprintf(out_, "%s\n", FormatPhaseLine(phase_, done_, total_, Seconds(), complete).c_str());
  }
  std::fflush(out_);
  active_ = false;
}

void Progress::Message(const std::string& line) {
  if (mode_ != Mode::Silent) Error(line);
}

void Progress::Error(const std::string& line) {
  if (mode_ == Mode::Bar && active_) std::fputs("\r\x1b[K", out_);
  std::fprintf(out_, "%s\n", line.c_str());
  if (mode_ == Mode::Bar && active_) Draw(true);
  std::fflush(out_);
}

void Progress::Draw(bool force) {
  if (mode_ != Mode::Bar || !active_) return;
  const auto now = Clock::now();
  // A redraw per report would be a thousand a second; twenty is smooth.
  if (!force && now - lastDraw_ < std::chrono::milliseconds(50)) return;
  lastDraw_ = now;
  const int width = width_ ? width_() : kFallbackWidth;
  std::fprintf(out_, "\r%s\x1b[K", FormatProgressBar(phase_, done_, total_, Seconds(), width).c_str());
  std::fflush(out_);
}

}  // namespace quillet::cli
