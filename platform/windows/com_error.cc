#include "platform/windows/com_error.h"

#include <ole2.h>
#include <oleauto.h>

#include <new>

#include "platform/error.h"
#include "platform/windows/com_types.h"

namespace platform::windows {

namespace {

// Line breaks of a system message would split the error line in chat and in
// the log; they become blanks, and trailing ones go.
std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  while (!text.empty() && text.back() == L' ') text.pop_back();
  return text;
}

std::wstring SystemMessage(HRESULT hr) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (length > 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) ::LocalFree(buffer);
  return OneLine(std::move(text));
}

}  // namespace

namespace {

// The description of the thread's error information when `object` says it
// sets some for `iid`; empty otherwise. Takes the information either way.
std::wstring ErrorInfoText(IUnknown* object, REFIID iid) {
  ComPtr<IErrorInfo> info;
  if (::GetErrorInfo(0, info.Receive()) != S_OK || !info || object == nullptr) return {};
  ComPtr<ISupportErrorInfo> support;
  if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.ReceiveVoid())) || !support ||
      support->InterfaceSupportsErrorInfo(iid) != S_OK) {
    return {};
  }
  Bstr description;
  if (FAILED(info->GetDescription(description.Receive()))) return {};
  return OneLine(description.str());
}

}  // namespace

void ClearErrorInfo() { ::SetErrorInfo(0, nullptr); }

std::wstring HResultDescription(HRESULT hr, IUnknown* object, REFIID iid) {
  std::wstring text = ErrorInfoText(object, iid);
  if (!text.empty()) return text;
  return SystemMessage(hr);
}

void RaiseHResult(HRESULT hr, const std::wstring& what, IUnknown* object, REFIID iid) {
  std::wstring description = HResultDescription(hr, object, iid);
  if (description.empty()) description = what + L" failed";
  throw Error(static_cast<int32_t>(hr), description);
}

void RaiseAutomationFailure(HRESULT hr, const std::wstring& what, IUnknown* object, REFIID iid) {
  if (HRESULT_SEVERITY(hr) == SEVERITY_ERROR && HRESULT_FACILITY(hr) == FACILITY_CONTROL) {
    const int32_t number = HRESULT_CODE(hr);
    std::wstring description = ErrorInfoText(object, iid);
    if (description.empty()) description = StandardDescription(number);
    if (description.empty()) description = what + L" failed";
    throw Error(number, description);
  }
  RaiseHResult(hr, what, object, iid);
}

namespace {

void SetErrorInformation(REFIID iid, const wchar_t* source, const std::wstring& description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(::CreateErrorInfo(create.Receive()))) return;
  create->SetGUID(iid);
  create->SetSource(const_cast<LPOLESTR>(source));
  Bstr text(description);
  create->SetDescription(text.get());
  ComPtr<IErrorInfo> info = create.Query<IErrorInfo>(IID_IErrorInfo);
  if (info) ::SetErrorInfo(0, info.get());
}

}  // namespace

HRESULT HResultFromCurrentException(REFIID iid, const wchar_t* source) noexcept {
  try {
    try {
      throw;
    } catch (const Error& e) {
      SetErrorInformation(iid, source, e.description());
      if (e.number() < 0) return static_cast<HRESULT>(e.number());
      if (e.number() > 0 && e.number() <= 0xFFFF) {
        return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, e.number());
      }
      return E_FAIL;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT LastErrorHResult() {
  const DWORD error = ::GetLastError();
  return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

}  // namespace platform::windows
