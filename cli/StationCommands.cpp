// The production commands: station (flash every seated board, numbered and journaled) and
// station-report (what a journal adds up to).

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>

#include "cli/BackendSetUp.h"
#include "cli/Commands.h"
#include "cli/ImageIo.h"
#include "cli/Output.h"
#include "cli/SignalSource.h"
#include "cli/station/JournalFile.h"
#include "cli/station/JournalReport.h"
#include "cli/station/SimBench.h"
#include "cli/station/Station.h"
#include "cli/station/StationView.h"
#include "programmer/ActivityLog.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

namespace {

using namespace station;
using logtext::Say;
using logtext::Translate;

std::string NewRunId() {
  std::random_device random;
  char text[24];
  std::snprintf(text, sizeof text, "%08x%04x", random(), static_cast<unsigned>(::getpid()) & 0xFFFF);
  return text;
}

std::string NowIso() {
  return IsoUtc(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                    .count());
}

// What the start found in the journal, said before the first board.
void ReportJournalStart(Output& out, const std::string& path, const JournalScan& scan) {
  if (!scan.tornTail.empty())
    out.Message(Say("journal %s: the last line was torn (power lost while it was written); kept as a "
                    "\"torn\" record and ignored",
                    path.c_str()));
  if (!scan.unfinished.empty())
    out.Message(Say("journal %s: %zu board(s) had no result (the station stopped mid-board); recorded as interrupted",
                    path.c_str(), scan.unfinished.size()));
  for (uint64_t serial : scan.duplicateSerials)
    out.Error(Say("journal %s: serial number %llu was reserved more than once before; no number at or below the "
                  "highest is issued again",
                  path.c_str(), static_cast<unsigned long long>(serial)));
  if (scan.highestSerial)
    out.Message(Say("journal %s: the highest number reserved so far is %llu", path.c_str(),
                    static_cast<unsigned long long>(*scan.highestSerial)));
}

}  // namespace

int RunStation(const CliOptions& o, Output& out) {
  const StationOptions& so = o.station;
  // Before any thread starts, so every thread leaves the signals to the source.
  const auto signals = TakeSignals(false);
  const uint32_t chipSize = FlashSizeOf(o.chip);
  const LoadedImage image = LoadImageFile(o.arguments[0], chipSize, o.chip);
  if (!image.error.empty()) {
    out.Error(image.error);
    return kExitUsage;
  }
  if (so.serial) {
    if (std::string why = CheckSerialPlan(*so.serial, image.bytes, chipSize); !why.empty()) {
      out.Error(why);
      return kExitUsage;
    }
  }
  const std::string journalPath = so.journal.empty() ? kDefaultJournal : so.journal;
  StationSetUp setUp;
  setUp.chip = o.chip;
  setUp.image = image.bytes;
  setUp.serial = so.serial;
  setUp.keepSerial = so.keepSerial;
  setUp.programmers = so.programmers;
  setUp.maxBoards = so.maxBoards;
  setUp.run = NewRunId();
  auto opened = JournalFile::Open(journalPath, setUp.run, NowIso());
  if (const auto* e = std::get_if<JournalError>(&opened)) {
    out.Error(DescribeJournalError(*e));
    return kExitFailed;
  }
  JournalFile::Opened& journal = std::get<JournalFile::Opened>(opened);
  ReportJournalStart(out, journalPath, journal.scan);
  if (so.serial && !NextSerial(*so.serial, journal.scan.highestSerial)) {
    out.Error(Say("no serial number is left: the journal %s has reserved up to %llu and the range ends before the next",
                  journalPath.c_str(), static_cast<unsigned long long>(journal.scan.highestSerial.value_or(0))));
    return kExitFailed;
  }

  std::unique_ptr<SimBench> bench;
  HidBackend backend;
  const int benchSize = so.benchSize ? so.benchSize : o.simulateFlashSize ? 1 : 0;
  if (benchSize) {
    SimBench::Options options;
    options.size = benchSize;
    options.flashSize = !so.benchSize ? *o.simulateFlashSize : so.benchFlashSize ? so.benchFlashSize : chipSize;
    bench = std::make_unique<SimBench>(options);
    backend = bench->Backend();
  } else {
    std::string error;
    auto made = MakeBackend(o, error);
    if (!made) {
      out.Error(error);
      return kExitUsage;
    }
    backend = made->hid;
  }

  const bool dashboard = out.Bar().GetMode() == Progress::Mode::Bar;
  const bool plain = out.Bar().GetMode() == Progress::Mode::Lines;
  Dashboard board(stderr);
  Station::Events events;
  events.boardEnded = [&](const JournalRecord& r) {
    out.Record(BoardJson(r));
    if (plain) out.Message(BoardLine(r));
    if (dashboard) board.Message(BoardLine(r));
  };
  auto message = [&](const std::string& line) {
    if (dashboard)
      board.Message(line);
    else
      out.Message(line);
  };
  events.message = message;
  if (o.verbosity == Verbosity::Verbose) {
    events.log = [message, locale = ActivityLog::UserTimeLocale()](const std::string& slot, const std::string& line) {
      message(slot + ": " + FormatLogLine(ReadLocalClock(), line, locale));
    };
  }
  Station st(backend, std::move(setUp), *journal.file, journal.scan, std::move(events));
  hid::Subscription quit;
  int quits = 0;
  if (signals)
    quit = signals->Subscribe(st.Loop().Poster(), [&](ProcessSignal s) {
      if (s != ProcessSignal::Quit) return;
      if (++quits == 1) {
        message(Translate("stopping: no new board starts, those in flight finish (Ctrl-C again stops at once)"));
        st.StopArming();
      } else {
        st.StopNow();
      }
    });
  if (bench)
    st.Every(std::chrono::milliseconds(50), [&] {
      bench->Tend(SimBench::Clock::now(), [&](const std::string& serial, const std::string& node) { return st.StateOf(serial, node); });
    });
  auto draw = [&] {
    board.Draw(DashboardLines(st.Slots(), {st.Elapsed().count(), st.NumbersUsed(), journalPath}, true));
  };
  if (dashboard) st.Every(std::chrono::milliseconds(250), draw);
  out.Message(bench ? Say("station: %s, %s (%zu bytes), journal %s, %d simulated programmers (Ctrl-C stops)",
                          o.chip.c_str(), o.arguments[0].c_str(), image.bytes.size(), journalPath.c_str(), benchSize)
                    : Say("station: %s, %s (%zu bytes), journal %s (Ctrl-C stops)", o.chip.c_str(),
                          o.arguments[0].c_str(), image.bytes.size(), journalPath.c_str()));
  st.Run();
  quit.Reset();
  if (dashboard) draw();
  out.Message(Translate("summary:") + std::string("\n") + SummaryText(st.Slots(), st.Elapsed().count()));
  if (!st.Failure().empty()) {
    out.Error(st.Failure());
    return kExitFailed;
  }
  return st.StoppedAtOnce() ? kExitFailed : kExitOk;
}

int RunStationReport(const CliOptions& o, Output& out) {
  const std::string& path = o.arguments[0];
  std::string text;
  if (const int error = ReadJournalText(path, text)) {
    out.Error(DescribeJournalError({JournalError::kRead, path, error, 0}));
    return kExitUsage;
  }
  const JournalSummary summary = SummariseJournal(ScanJournal(text));
  const std::string report = o.station.csv ? FormatJournalSummaryCsv(summary) : FormatJournalSummary(summary, path);
  if (o.json) {
    Json::Value r(Json::objectValue);
    r["operation"] = "station-report";
    r["journal"] = path;
    r["passed"] = Json::UInt64(summary.total.passed);
    r["failed"] = Json::UInt64(summary.total.failed);
    r["interrupted"] = Json::UInt64(summary.total.interrupted);
    r["yield"] = summary.total.Yield();
    r["boards_per_hour"] = summary.BoardsPerHour();
    r["lowest_serial"] = summary.lowestSerial ? Json::Value(Json::UInt64(*summary.lowestSerial)) : Json::Value();
    r["highest_serial"] = summary.highestSerial ? Json::Value(Json::UInt64(*summary.highestSerial)) : Json::Value();
    r["serials_used"] = Json::UInt64(summary.serialsUsed);
    Json::Value damaged(Json::arrayValue);
    for (size_t line : summary.damagedLines) damaged.append(Json::UInt64(line));
    r["damaged_lines"] = damaged;
    r["torn"] = summary.torn;
    Json::Value duplicates(Json::arrayValue);
    for (uint64_t s : summary.duplicateSerials) duplicates.append(Json::UInt64(s));
    r["duplicate_serials"] = duplicates;
    r["sound"] = summary.Sound();
    out.Record(r);
  } else {
    std::fputs(report.c_str(), stdout);
  }
  if (!summary.Sound()) {
    out.Error(Say("the journal %s is damaged or holds a duplicated serial number", path.c_str()));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace quillet::cli
