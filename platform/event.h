#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

// Ends a subscription when destroyed or reset. Safe to outlive the event
// source: a connection to a source that is gone does nothing.
class Connection {
 public:
  Connection() = default;
  explicit Connection(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
  Connection(Connection&& other) noexcept : disconnect_(std::exchange(other.disconnect_, nullptr)) {}
  Connection& operator=(Connection&& other) noexcept {
    if (this != &other) {
      reset();
      disconnect_ = std::exchange(other.disconnect_, nullptr);
    }
    return *this;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { reset(); }

  void reset() {
    if (auto d = std::exchange(disconnect_, nullptr)) d();
  }
  bool connected() const { return static_cast<bool>(disconnect_); }

 private:
  std::function<void()> disconnect_;
};

// An event raised synchronously: Raise calls every handler connected when it
// starts, in the order of connection, on the raising thread. A handler may
// connect or disconnect handlers (itself included) while it runs; one
// disconnected during a Raise is not called after that. Exceptions from a
// handler pass to the caller of Raise.
template <class... Args>
class Event {
 public:
  using Handler = std::function<void(Args...)>;

  Event() : slots_(std::make_shared<Slots>()) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  [[nodiscard]] Connection Connect(Handler handler) {
    auto slot = std::make_shared<Slot>(Slot{std::move(handler)});
    slots_->push_back(slot);
    std::weak_ptr<Slots> weak_slots = slots_;
    std::weak_ptr<Slot> weak_slot = slot;
    return Connection([weak_slots, weak_slot] {
      auto slots = weak_slots.lock();
      auto s = weak_slot.lock();
      if (!s) return;
      s->handler = nullptr;
      if (!slots) return;
      for (auto it = slots->begin(); it != slots->end(); ++it) {
        if (*it == s) {
          slots->erase(it);
          break;
        }
      }
    });
  }

  void Raise(Args... args) const {
    auto snapshot = *slots_;
    for (const auto& slot : snapshot) {
      if (slot->handler) {
        auto handler = slot->handler;  // survives a disconnect inside the call
        handler(args...);
      }
    }
  }

  bool HasHandlers() const { return !slots_->empty(); }

 private:
  struct Slot {
    Handler handler;
  };
  using Slots = std::vector<std::shared_ptr<Slot>>;
  std::shared_ptr<Slots> slots_;
};

}  // namespace platform
