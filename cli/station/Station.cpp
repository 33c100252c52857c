#include "cli/station/Station.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>

#include "cli/Session.h"
#include "cli/station/Sha256.h"
#include "hex/HexDigit.h"
#include "hid/HidIO.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli::station {

namespace {

using logtext::Say;
using logtext::Translate;
using State = SlotMachine::State;

std::string SerialsRanOut() {
  return Translate("the serial numbers ran out (--serial-end); no further board can be numbered");
}

// What a poll's outcome says about the connector: nothing when it cannot be trusted.
std::optional<bool> ChipPresent(const OperationOutcome& o) {
  if (!o.identity || !o.identity->CheckPassed()) return std::nullopt;
  return o.identity->chipConnected;
}

// In English unless `lookup` asks for the user's language.
std::string FailureWords(const OperationOutcome& o, const std::string& what, TextLookup lookup) {
  if (const auto* m = o.As<failure::ReadBackMismatch>())
    return LookedUp(lookup, "the read-back differs at 0x%04X (expected %02X, read %02X); %u of %u bytes differ",
                    m->address, m->expected, m->actual, m->bytes, m->compared);
  if (o.Ok() && o.checksumAgrees == false)
    return LookedUp(lookup, "the programmer's checksum of the image differs from ours");
  return DescribeFailure(o, what, lookup).error;
}

std::string StoppedAtOnceWords(TextLookup lookup) { return LookedUp(lookup, "the station was stopped at once"); }

template <class Words>
FailureText InBothLanguages(Words words) {
  return {words(nullptr), words(Translate)};
}
FailureText FailureOf(const OperationOutcome& o, const std::string& what) {
  return InBothLanguages([&](TextLookup lookup) { return FailureWords(o, what, lookup); });
}

bool Names(const std::string& wanted, const std::string& serial, const std::string& node) {
  if (wanted == serial || wanted == node) return true;
  std::error_code e1, e2;
  const auto a = std::filesystem::weakly_canonical(wanted, e1), b = std::filesystem::weakly_canonical(node, e2);
  return (!e1 && !e2 && a == b) || std::filesystem::path(node).filename() == wanted;
}

std::string Joined(const std::set<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : Translate(" and ")) + item;
  return text;
}

}  // namespace

struct Station::Board {
  JournalRecord record;
  std::vector<uint8_t> image;  // patched
  std::string phase;
  Clock::time_point phaseStart;
};

struct Station::Slot {
  explicit Slot(EventLoop& loop) : watchdog(loop), wake(loop) {}
  std::string serial;  // of its programmer; empty when it has none (then the node names it)
  std::string node;
  std::unique_ptr<Programmer> programmer;
  SlotMachine machine;
  EventLoop::Timer watchdog;
  EventLoop::Timer wake;
  std::optional<Board> board;
  BoardCounts counts;
  std::optional<BoardResult> last;
  std::string lastFailure;
  bool open = false;
  bool shared = false;  // another programmer has its serial number: it follows its node
  std::string Name() const { return SlotName(serial, node, shared); }
};

Station::Station(HidBackend backend, StationSetUp setUp, JournalFile& journal, const JournalScan& scan, Events events)
    : backend_(std::move(backend)), setUp_(std::move(setUp)), journal_(journal), events_(std::move(events)) {
  imageSha256_ = Sha256Hex(setUp_.image);
  highestSerial_ = scan.highestSerial;
  highestBoard_ = scan.highestBoard;
  for (const JournalRecord& r : scan.records)
    if (r.event == JournalEvent::Reserve && r.serial) issued_.insert(*r.serial);
  if (backend_.changes)
    deviceChanges_ = backend_.changes->Subscribe(loop_.Poster(), [this](const hid::DeviceChange&) { RescanAll(); });
}

Station::~Station() {
  // Device changes and the readers post into the loop and call into the slots: they go first.
  deviceChanges_.Reset();
  for (auto& slot : slots_) slot->programmer.reset();
}

struct Station::Ticker {
  Ticker(EventLoop& loop, std::chrono::milliseconds period, std::function<void()> tick)
      : timer(loop), period(period), tick(std::move(tick)) {}
  void Arm() {
    timer.Start(period, [this] {
      tick();
      Arm();
    });
  }
  EventLoop::Timer timer;
  std::chrono::milliseconds period;
  std::function<void()> tick;
};

void Station::Every(std::chrono::milliseconds period, std::function<void()> tick) {
  tickers_.push_back(std::make_unique<Ticker>(loop_, period, std::move(tick)));
  tickers_.back()->Arm();
}

std::string Station::Now() const {
  return IsoUtc(std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count());
}

void Station::Run() {
  JournalRecord start;
  start.event = JournalEvent::Start;
  start.time = Now();
  start.run = setUp_.run;
  start.text = setUp_.chip + " " + imageSha256_;
  if (auto e = journal_.Append(start)) Fail(DescribeJournalError(*e));
  RescanAll();
  loop_.RunUntil([this] { return stopNow_ || (!armed_ && !BoardsInFlight()); });
  // Stop every repeating timer before the loop goes; their calls hold only the loop.
  for (auto& t : tickers_) t->timer.Stop();
}

void Station::Discover() {
  hid::THidIO hid(nullptr, backend_.platform);
  hid.EnumFullMode = true;
  hid.Update();
  hid.GetDeviceList(nullptr);
  struct Listed {
    std::string serial, node;
  };
  std::vector<Listed> listed;
  std::map<std::string, std::set<std::string>> nodesOf;  // by serial number, listed now or followed
  for (int i = 0; i < hid.GetDeviceCount(); ++i) {
    const hid::THidDevice* d = hid.GetDevice(i);
    if (!d || d->GetVendorId() != kProgrammerVendorId || d->GetProductId() != kProgrammerProductId) continue;
    const std::string serial = d->SerialNumber, node = d->InterfacePath;
    if (!setUp_.programmers.empty() &&
        std::none_of(setUp_.programmers.begin(), setUp_.programmers.end(),
                     [&](const std::string& p) { return Names(p, serial, node); }))
      continue;
    listed.push_back({serial, node});
    if (!serial.empty()) nodesOf[serial].insert(node);
  }
  for (const auto& s : slots_)
    if (s->open && !s->serial.empty()) nodesOf[s->serial].insert(s->node);  // there, even if the listing missed it
  // Programmers that share a serial number cannot be told apart by it: from the moment two are
  // seen, each slot with that number follows its node instead, and keeps doing so.
  for (const auto& [serial, nodes] : nodesOf)
    if (nodes.size() >= 2 && sharedSerials_.insert(serial).second && events_.message)
      events_.message(Say("programmers at %s share the serial number %s: each has its own slot, named by its node",
                          Joined(nodes).c_str(), serial.c_str()));
  for (auto& s : slots_) {
    if (s->shared || !sharedSerials_.count(s->serial)) continue;
    s->shared = true;
    FollowNode(*s);
  }
  for (const Listed& l : listed) {
    const std::string &serial = l.serial, &node = l.node;
    const bool shared = sharedSerials_.count(serial) > 0;
    const auto same = [&](const auto& s) { return s->serial == serial && (s->shared ? s->node == node : !serial.empty()); };
    const bool known = std::any_of(slots_.begin(), slots_.end(), [&](const auto& s) {
      return serial.empty() ? s->serial.empty() && s->node == node : same(s);
    });
    if (known) continue;
    // A programmer that shares its number and is back at another node takes a slot of that number
    // whose node is no longer listed: which of the twins it is, nothing can tell.
    if (shared) {
      const auto gone = std::find_if(slots_.begin(), slots_.end(), [&](const auto& s) {
        return s->shared && s->serial == serial && !nodesOf[serial].count(s->node);
      });
      if (gone != slots_.end()) {
        (*gone)->node = node;
        FollowNode(**gone);
        continue;
      }
    }
    auto slot = std::make_unique<Slot>(loop_);
    Slot* s = slot.get();
    s->serial = serial;
    s->node = node;
    s->shared = shared;
    ProgrammerHost host;
    host.appendLog = [this, s](const std::string& line) {
      if (events_.log) loop_.Post([this, s, line] { events_.log(s->Name(), line); });
    };
    host.post = loop_.Poster();
    host.startTimer = [s](std::chrono::milliseconds delay) {
      s->watchdog.Start(delay, [s] { s->programmer->WatchdogTimerFired(); });
    };
    host.stopTimer = [s] { s->watchdog.Stop(); };
    s->programmer = std::make_unique<Programmer>(backend_.platform, std::move(host));
    ProgrammerListener listener;
    listener.connectionChanged = [this, s] { OnConnectionChanged(*s); };
    s->programmer->SetListener(std::move(listener));
    if (serial.empty() || shared)
      FollowNode(*s);
    else
      s->programmer->SetFilter([serial](const hid::THidDevice& d) { return d.SerialNumber == serial; });
    s->programmer->SelectChip(setUp_.chip);
    slots_.push_back(std::move(slot));
  }
}

void Station::FollowNode(Slot& slot) {
  slot.programmer->SetFilter([node = slot.node](const hid::THidDevice& d) { return d.InterfacePath == node; });
}

void Station::RescanAll() {
  Discover();
  for (auto& slot : slots_) {
    const auto r = slot->programmer->Rescan();
    if (r.failure && events_.message) {
      OperationOutcome o;
      o.failure = r.failure;
      events_.message(slot->Name() + Say(": %s", FailureWords(o, "opening", Translate).c_str()));
    }
  }
}

void Station::OnConnectionChanged(Slot& slot) {
  const bool open = slot.programmer->IsOpen();
  if (open == slot.open) return;
  slot.open = open;
  if (open) {
    slot.node = slot.programmer->Node();
    slot.machine.Attached();
  } else {
    slot.machine.Detached();
  }
  if (events_.message)
    events_.message(open ? Say("%s: programmer ready at %s", slot.Name().c_str(), slot.node.c_str())
                         : Say("%s: programmer gone", slot.Name().c_str()));
  Drive(slot);
}

bool Station::CanNumber() const { return !setUp_.serial || NextSerial(*setUp_.serial, highestSerial_).has_value(); }

bool Station::BoardsInFlight() const {
  return std::any_of(slots_.begin(), slots_.end(), [](const auto& s) { return s->board.has_value(); });
}

void Station::Fail(const std::string& why) {
  if (failure_.empty()) failure_ = why;
  StopArming();
}

void Station::StopArming() {
  armed_ = false;
  for (auto& slot : slots_) slot->machine.SetArmed(false);
}

void Station::StopNow() {
  StopArming();
  for (auto& slot : slots_)
    if (slot->board) EndBoard(*slot, BoardResult::Interrupted, InBothLanguages(StoppedAtOnceWords));
  stopNow_ = true;
}

void Station::Drive(Slot& slot) {
  if (armed_ && !CanNumber()) Fail(SerialsRanOut());
  // With --max-boards, no more boards are started than could still be needed: exactly N pass
  // unless one in flight fails.
  const auto inFlight = static_cast<uint64_t>(
      std::count_if(slots_.begin(), slots_.end(), [](const auto& s) { return s->board.has_value(); }));
  slot.machine.SetArmed(armed_ && (!setUp_.maxBoards || passes_ + inFlight < *setUp_.maxBoards));
  const Clock::time_point now = Clock::now();
  switch (slot.machine.Next(now)) {
    case SlotMachine::Action::Poll:
      slot.programmer->Detect([this, &slot](const OperationOutcome& o) {
        slot.machine.Answered(ChipPresent(o));
        Drive(slot);
      });
      return;
    case SlotMachine::Action::Flash:
      StartBoard(slot);
      return;
    case SlotMachine::Action::Wait:
      if (const auto at = slot.machine.WakeAt())
        slot.wake.Start(std::max(std::chrono::milliseconds(0),
                                 std::chrono::ceil<std::chrono::milliseconds>(*at - now)),
                        [this, &slot] { Drive(slot); });
      return;
  }
}

Programmer::Done Station::ForBoard(Slot& slot, Programmer::Done next) {
  const uint64_t board = slot.board->record.board;
  return [this, &slot, board, next = std::move(next)](const OperationOutcome& o) {
    if (!slot.board || slot.board->record.board != board) return;
    EndPhase(slot);
    next(o);
  };
}

void Station::BeginPhase(Slot& slot, const std::string& phase) {
  slot.board->phase = phase;
  slot.board->phaseStart = Clock::now();
}

void Station::EndPhase(Slot& slot) {
  Board& b = *slot.board;
  b.record.phaseSeconds[b.phase] = std::chrono::duration<double>(Clock::now() - b.phaseStart).count();
}

void Station::StartBoard(Slot& slot) {
  slot.board.emplace();
  JournalRecord& r = slot.board->record;
  r.board = ++highestBoard_;
  r.run = setUp_.run;
  r.slotSerial = slot.serial;
  r.slotNode = slot.node;
  r.slotShared = slot.shared;
  r.chip = setUp_.chip;
  r.imageSha256 = imageSha256_;
  if (!setUp_.keepSerial || !setUp_.serial) {
    Reserve(slot, std::nullopt);
    return;
  }
  BeginPhase(slot, "read");
  slot.programmer->Read(setUp_.flags, ForBoard(slot, [this, &slot](const OperationOutcome& o) {
                          if (!o.Ok()) return EndBoard(slot, BoardResult::Fail, FailureOf(o, "reading the board"));
                          Reserve(slot, KeptSerial(o.flash, *setUp_.serial, issued_));
                        }));
}

void Station::Reserve(Slot& slot, std::optional<uint64_t> kept) {
  Board& b = *slot.board;
  JournalRecord& r = b.record;
  r.event = JournalEvent::Reserve;
  r.time = Now();
  b.image = setUp_.image;
  if (setUp_.serial) {
    const std::optional<uint64_t> value = kept ? kept : NextSerial(*setUp_.serial, highestSerial_);
    if (!value) {
      // Another slot took the last number while this board was read.
      slot.board.reset();
      slot.machine.BoardWithdrawn();
      Fail(SerialsRanOut());
      return;
    }
    if (!kept) highestSerial_ = *value;
    r.serial = *value;
    r.reflash = kept.has_value();
    r.serialBytes = LowerHexText(SerialBytes(*value, setUp_.serial->width, setUp_.serial->endian));
    b.image = PatchSerial(setUp_.image, *setUp_.serial, *value);
  }
  // On disk before the first erase: a crash from here on cannot give this number out again.
  if (auto e = journal_.Append(r)) {
    slot.board.reset();
    slot.machine.BoardWithdrawn();
    Fail(DescribeJournalError(*e));
    return;
  }
  if (r.serial && !kept) {
    ++numbersUsed_;
    issued_.insert(*r.serial);
  }
  WriteBoard(slot);
}

void Station::WriteBoard(Slot& slot) {
  BeginPhase(slot, "write");
  slot.programmer->Write(slot.board->image, setUp_.flags, ForBoard(slot, [this, &slot](const OperationOutcome& o) {
                           if (!o.Ok() || o.checksumAgrees == false)
                             return EndBoard(slot, BoardResult::Fail, FailureOf(o, "writing"));
                           ReadBack(slot);
                         }));
}

void Station::ReadBack(Slot& slot) {
  BeginPhase(slot, "read_back");
  slot.programmer->Verify(slot.board->image, setUp_.flags, ForBoard(slot, [this, &slot](const OperationOutcome& o) {
                            if (!o.Ok()) return EndBoard(slot, BoardResult::Fail, FailureOf(o, "reading back"));
                            EndBoard(slot, BoardResult::Pass, {});
                          }));
}

void Station::EndBoard(Slot& slot, BoardResult result, const FailureText& failure) {
  Board b = std::move(*slot.board);
  slot.board.reset();
  JournalRecord& r = b.record;
  r.event = JournalEvent::Result;
  r.time = Now();
  r.result = result;
  if (result != BoardResult::Pass) {
    r.phase = b.phase;
    r.failure = failure.recorded;
    r.failureShown = failure.shown;
  }
  if (auto e = journal_.Append(r)) Fail(DescribeJournalError(*e));
  uint64_t BoardCounts::*count = result == BoardResult::Pass   ? &BoardCounts::passed
                                 : result == BoardResult::Fail ? &BoardCounts::failed
                                                               : &BoardCounts::interrupted;
  ++(slot.counts.*count);
  slot.last = result;
  slot.lastFailure = failure.shown;
  if (events_.boardEnded) events_.boardEnded(r);
  if (result == BoardResult::Interrupted) return;
  slot.machine.BoardEnded(result == BoardResult::Pass);
  if (slot.machine.GetState() == State::Held && events_.message)
    events_.message(Say("%s: held after %d failed boards in a row; replug its programmer to release it",
                        slot.Name().c_str(), SlotMachine::kFailuresToHold));
  if (result == BoardResult::Pass) ++passes_;
  if (setUp_.maxBoards && passes_ >= *setUp_.maxBoards) StopArming();
  Drive(slot);
}

std::vector<SlotView> Station::Slots() const {
  std::vector<SlotView> views;
  for (const auto& s : slots_) {
    SlotView v;
    v.name = s->Name();
    v.node = s->node;
    v.state = s->machine.GetState();
    if (s->board) {
      v.phase = s->board->phase;
      v.serial = s->board->record.serial;
    }
    v.last = s->last;
    v.lastFailure = s->lastFailure;
    v.counts = s->counts;
    views.push_back(v);
  }
  return views;
}

std::optional<SlotMachine::State> Station::StateOf(const std::string& slotName) const {
  for (const auto& s : slots_)
    if (s->Name() == slotName) return s->machine.GetState();
  return std::nullopt;
}

std::optional<SlotMachine::State> Station::StateOf(const std::string& serial, const std::string& node) const {
  for (const auto& s : slots_)
    if (s->serial == serial && (s->node == node || (!s->shared && !serial.empty()))) return s->machine.GetState();
  return std::nullopt;
}

}  // namespace quillet::cli::station
