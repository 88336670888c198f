#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <utility>
#include <vector>

#include "platform/windows/com_object.h"
#include "platform/windows/com_types.h"

// Events through connection points, for the objects that raise them (the
// plug-in's httpHandler, the host's controls and timer) and the code that
// listens to them.
namespace platform::windows {

// The connection point of one event interface, a part of its container:
// its references are the container's, so it lives exactly as long as the
// container does. Sinks are held as IDispatch (scripting clients offer no
// more); raising code calls ForEachSink, under which a sink may advise or
// unadvise, or release the container, while an event runs (the raising
// object keeps itself alive for the event's length).
class EventConnectionPoint final : public IConnectionPoint {
 public:
  EventConnectionPoint(IConnectionPointContainer* container, const IID& events)
      : container_(container), events_(events) {}
  EventConnectionPoint(const EventConnectionPoint&) = delete;
  EventConnectionPoint& operator=(const EventConnectionPoint&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return container_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return container_->Release(); }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  const IID& events() const { return events_; }
  // Calls `call(IDispatch*)` for each sink advised when this starts, in the
  // order of advising, skipping one that is unadvised (by itself or by
  // another sink) before its turn comes: a sink that has unadvised hears
  // nothing more, not even the rest of the event that was running. One
  // advised during the run waits for the next event. The caller keeps the
  // container alive for the run; `call` must not raise.
  template <class Call>
  void ForEachSink(Call&& call) const {
    std::vector<Connection> advised = connections_;  // a copy with its references
    for (const Connection& c : advised) {
      if (Advised(c.cookie)) call(c.sink.get());
    }
  }
  // Lets every sink go (the container is going).
  void Clear();

  // For a container with this one connection point: the two methods of
  // IConnectionPointContainer.
  HRESULT Enumerate(IEnumConnectionPoints** out);
  HRESULT Find(REFIID iid, IConnectionPoint** out);

 private:
  struct Connection {
    DWORD cookie;
    ComPtr<IDispatch> sink;
  };

  bool Advised(DWORD cookie) const;

  IConnectionPointContainer* container_;
  IID events_;
  std::vector<Connection> connections_;
  DWORD next_cookie_ = 1;
};

// Calls one event member on one sink with `count` arguments, the last
// argument first as IDispatch::Invoke takes them. What the sink returns,
// a failure included, is the sink's own affair: the next sink is called
// all the same.
void InvokeSink(IDispatch* sink, DISPID member, VARIANT* arguments, UINT count);

// Advises `sink` on the connection point of `events` of `source`, and
// unadvises when it goes (or at Reset). Raises platform::Error when the
// source has no such connection point or refuses the sink.
class SinkConnection {
 public:
  SinkConnection() = default;
  SinkConnection(IUnknown* source, const IID& events, IUnknown* sink);
  SinkConnection(SinkConnection&& other) noexcept
      : point_(std::move(other.point_)), cookie_(std::exchange(other.cookie_, 0)) {}
  SinkConnection& operator=(SinkConnection&& other) noexcept {
    if (this != &other) {
      Reset();
      point_ = std::move(other.point_);
      cookie_ = std::exchange(other.cookie_, 0);
    }
    return *this;
  }
  SinkConnection(const SinkConnection&) = delete;
  SinkConnection& operator=(const SinkConnection&) = delete;
  ~SinkConnection() { Reset(); }

  // Never raises; a source that fails to unadvise is let go all the same.
  void Reset();
  bool connected() const { return cookie_ != 0; }

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

// A snapshot enumerator (IEnumConnections, IEnumConnectionPoints) over
// elements copied in with their references; Clone starts where this one
// stands.
template <class Enum, class Element>
class SnapshotEnumerator final : public ComObject<Enum> {
 public:
  explicit SnapshotEnumerator(std::vector<Element> elements, size_t position = 0)
      : elements_(std::move(elements)), position_(position) {
    for (Element& e : elements_) AddRefElement(e);
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Element* out, ULONG* fetched) override {
    if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG done = 0;
    while (done < count && position_ < elements_.size()) {
      out[done] = elements_[position_++];
      AddRefElement(out[done]);
      ++done;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = elements_.size() - position_;
    if (count > left) {
      position_ = elements_.size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Enum** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    try {
      *out = new SnapshotEnumerator(elements_, position_);
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  ~SnapshotEnumerator() override {
    for (Element& e : elements_) ReleaseElement(e);
  }
  static void AddRefElement(IConnectionPoint* p) { p->AddRef(); }
  static void ReleaseElement(IConnectionPoint* p) { p->Release(); }
  static void AddRefElement(CONNECTDATA& c) { c.pUnk->AddRef(); }
  static void ReleaseElement(CONNECTDATA& c) { c.pUnk->Release(); }

  std::vector<Element> elements_;
  size_t position_;
};

}  // namespace platform::windows
