#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <utility>
#include <vector>

#include "platform/windows/com_types.h"

namespace component::windows {

// The connection point of one event interface, a part of its container:
// its references are the container's, so it lives exactly as long as the
// container does. Sinks are held as IDispatch (scripting clients offer no
// more); Fire-side code takes a snapshot with Sinks() so that a sink may
// advise or unadvise while an event runs.
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
  // The sinks advised now, in the order of advising.
  std::vector<platform::windows::ComPtr<IDispatch>> Sinks() const;
  // Lets every sink go (the container is going).
  void Clear() { connections_.clear(); }

 private:
  struct Connection {
    DWORD cookie;
    platform::windows::ComPtr<IDispatch> sink;
  };

  IConnectionPointContainer* container_;
  IID events_;
  std::vector<Connection> connections_;
  DWORD next_cookie_ = 1;
};

// A snapshot enumerator (IEnumConnections, IEnumConnectionPoints) over
// elements copied in with their references; Clone starts where this one
// stands.
template <class Enum, class Element>
class SnapshotEnumerator final : public Enum {
 public:
  SnapshotEnumerator(const IID& iid, std::vector<Element> elements, size_t position = 0)
      : iid_(iid), elements_(std::move(elements)), position_(position) {
    for (Element& e : elements_) AddRefElement(e);
  }
  SnapshotEnumerator(const SnapshotEnumerator&) = delete;
  SnapshotEnumerator& operator=(const SnapshotEnumerator&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == iid_) {
      *out = static_cast<Enum*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
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
    *out = new SnapshotEnumerator(iid_, elements_, position_);
    return S_OK;
  }

 private:
  ~SnapshotEnumerator() {
    for (Element& e : elements_) ReleaseElement(e);
  }
  static void AddRefElement(IConnectionPoint* p) { p->AddRef(); }
  static void ReleaseElement(IConnectionPoint* p) { p->Release(); }
  static void AddRefElement(CONNECTDATA& c) { c.pUnk->AddRef(); }
  static void ReleaseElement(CONNECTDATA& c) { c.pUnk->Release(); }

  std::atomic<ULONG> references_{1};
  IID iid_;
  std::vector<Element> elements_;
  size_t position_;
};

}  // namespace component::windows
