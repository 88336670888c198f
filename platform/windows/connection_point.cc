#include "platform/windows/connection_point.h"

#include "platform/windows/com_error.h"

namespace platform::windows {

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
    *out = new SnapshotEnumerator<IEnumConnections, CONNECTDATA>(std::move(data));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

bool EventConnectionPoint::Advised(DWORD cookie) const {
  for (const Connection& c : connections_) {
    if (c.cookie == cookie) return true;
  }
  return false;
}

void EventConnectionPoint::Clear() {
  // Released outside the container's vector: a sink's Release may call back.
  std::vector<Connection> gone = std::exchange(connections_, {});
}

HRESULT EventConnectionPoint::Enumerate(IEnumConnectionPoints** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    std::vector<IConnectionPoint*> points{this};
    *out = new SnapshotEnumerator<IEnumConnectionPoints, IConnectionPoint*>(std::move(points));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT EventConnectionPoint::Find(REFIID iid, IConnectionPoint** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid != events_) return CONNECT_E_NOCONNECTION;
  AddRef();
  *out = this;
  return S_OK;
}

void InvokeSink(IDispatch* sink, DISPID member, VARIANT* arguments, UINT count) {
  DISPPARAMS params{arguments, nullptr, count, 0};
  ScopedVariant result;
  EXCEPINFO exception{};
  UINT bad_argument = 0;
  const HRESULT hr = sink->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                  result.Receive(), &exception, &bad_argument);
  if (hr == DISP_E_EXCEPTION) {
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
  }
}

SinkConnection::SinkConnection(IUnknown* source, const IID& events, IUnknown* sink) {
  if (source == nullptr) RaiseHResult(E_POINTER, L"Connecting to events");
  ComPtr<IConnectionPointContainer> container;
  CheckHResult(source->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid()),
               L"Finding the object's events");
  ComPtr<IConnectionPoint> point;
  CheckHResult(container->FindConnectionPoint(events, point.Receive()),
               L"Finding the object's events");
  DWORD cookie = 0;
  CheckHResult(point->Advise(sink, &cookie), L"Connecting to the object's events");
  point_ = std::move(point);
  cookie_ = cookie;
}

void SinkConnection::Reset() {
  const DWORD cookie = std::exchange(cookie_, 0);
  ComPtr<IConnectionPoint> point = std::move(point_);
  if (cookie != 0 && point) point->Unadvise(cookie);
}

}  // namespace platform::windows
