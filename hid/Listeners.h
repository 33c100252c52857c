#pragma once
// The events of one source handed to any number of listeners, each on a thread of its own
// choosing: a listener gives a "post" that runs a call later on its loop's thread, and every event
// reaches it as one posted call, in the order the source raised them. Dropping the Subscription
// ends it; a call already posted for it then does nothing.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace quillet::hid {

// Runs a call later on the listener's own thread; it only queues, and never touches the source.
using Post = std::function<void(std::function<void()>)>;

// Holds one listener; move-only. Drop it on the thread its calls run on: once it is gone (or
// Reset), the listener is never called again, and the source is not in the middle of posting to it.
class Subscription {
 public:
  Subscription() = default;
  ~Subscription() { Reset(); }
  Subscription(Subscription&& other) noexcept : end_(std::exchange(other.end_, {})) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      Reset();
      end_ = std::exchange(other.end_, {});
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  void Reset() {
    if (auto end = std::exchange(end_, {})) end();
  }
  explicit operator bool() const { return static_cast<bool>(end_); }

 private:
  template <class Event>
  friend class Listeners;
  explicit Subscription(std::function<void()> end) : end_(std::move(end)) {}
  std::function<void()> end_;
};

template <class Event>
class Listeners {
 public:
  using Listener = std::function<void(const Event&)>;

  // Every event published from now on reaches `listener` through `post`.
  [[nodiscard]] Subscription Subscribe(Post post, Listener listener) {
    auto one = std::make_shared<One>();
    one->post = std::move(post);
    one->listener = std::move(listener);
    uint64_t id;
    {
      std::lock_guard lock(hub_->mutex);
      id = hub_->nextId++;
      hub_->listeners.emplace(id, one);
    }
    // The hub is shared, so a subscription may outlive its source.
    return Subscription([hub = hub_, id, one] {
      one->alive = false;
      std::lock_guard lock(hub->mutex);  // waits for a publish that is posting to it
      hub->listeners.erase(id);
    });
  }

  // Any thread. Publishing is serialised, so every listener sees the same order.
  void Publish(const Event& event) {
    std::lock_guard lock(hub_->mutex);
    for (const auto& [id, one] : hub_->listeners) {
      one->post([one = one, event] {
        if (one->alive) one->listener(event);
      });
    }
  }

 private:
  struct One {
    Post post;
    Listener listener;
    std::atomic<bool> alive{true};
  };
  struct Hub {
    std::mutex mutex;
    std::map<uint64_t, std::shared_ptr<One>> listeners;
    uint64_t nextId = 0;
  };
  std::shared_ptr<Hub> hub_ = std::make_shared<Hub>();
};

}  // namespace quillet::hid
