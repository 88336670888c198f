#include "component/windows/connection_point.h"

namespace component::windows {

using platform::windows::ComPtr;

HRESULT STDMETHODCALLTYPE EventConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE EventConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = events_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EventConnectionPoint::GetConnectionPointContainer(
    IConnectionPointContainer** out) {
  if (out == nullptr) return E_POINTER;
  container_->AddRef();
  *out = container_;
  return S_OK;
}

// A sink must answer the event interface itself or IDispatch: events are
// delivered through IDispatch::Invoke either way.
HRESULT STDMETHODCALLTYPE EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  ComPtr<IDispatch> dispatch;
  if (FAILED(sink->QueryInterface(events_, dispatch.ReceiveVoid())) || !dispatch) {
    if (FAILED(sink->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid())) || !dispatch) {
      return CONNECT_E_CANNOTCONNECT;
    }
  }
  try {
    connections_.push_back(Connection{next_cookie_, std::move(dispatch)});
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  *cookie = next_cookie_++;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EventConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->cookie == cookie) {
      // Released after the erase: the sink's Release may call back here.
      ComPtr<IDispatch> sink = std::move(it->sink);
      connections_.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT STDMETHODCALLTYPE EventConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    std::vector<CONNECTDATA> data;
    for (const Connection& c : connections_) data.push_back(CONNECTDATA{c.sink.get(), c.cookie});
    *out = new SnapshotEnumerator<IEnumConnections, CONNECTDATA>(IID_IEnumConnections, std::move(data));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

std::vector<ComPtr<IDispatch>> EventConnectionPoint::Sinks() const {
  std::vector<ComPtr<IDispatch>> sinks;
  sinks.reserve(connections_.size());
  for (const Connection& c : connections_) sinks.push_back(c.sink);
  return sinks;
}

}  // namespace component::windows
