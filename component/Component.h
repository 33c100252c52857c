#pragma once
// The smallest component model the HID link, the HTTP client and the worker thread share:
// an owner that outlives its components, the loading and destroying states that change how
// their properties and events behave, and the types their properties and events share.
// Ownership here is a relation, not memory management: members and smart pointers free
// components; an owner only tells its components it is going.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace quillet {

// The priority of a thread a component runs (the HID reader, the worker thread).
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

enum ComponentStateFlag : uint32_t {
  csLoading = 1u << 0,     // properties are being restored; setters only store values
  csDestroying = 1u << 1,  // destruction has begun; events and synchronised calls are skipped
};

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  uint32_t ComponentState() const { return state_.load(); }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsDestroying() const { return (state_ & csDestroying) != 0; }

  // Puts the component into the loading state, as reading it from a form description would.
  void BeginLoading() { state_ |= csLoading; }
  // Ends loading and applies whatever the loaded properties stored; derived classes extend it.
  virtual void Loaded() { state_ &= ~csLoading; }

  // Marks this component and those it owns as being destroyed. A derived destructor calls it
  // first, so nothing it triggers while tearing down reaches a half-destroyed object.
  void Destroying();

 private:
  void InsertComponent(TComponent* child) { owned_.push_back(child); }
  void RemoveComponent(TComponent* child);

  TComponent* owner_;
  // Read by worker and reader threads while the UI thread may be destroying the component.
  std::atomic<uint32_t> state_{0};
  std::vector<TComponent*> owned_;
};

// An event that tells only who raised it.
using TNotifyEvent = std::function<void(TComponent* Sender)>;

}  // namespace quillet
