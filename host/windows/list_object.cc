// IHostList over a list of the host, with its Change event
// (DHostListEvents) through a connection point, and the conversion of its
// cells between VARIANT and the host's cell values.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <utility>
#include <variant>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/variant.h"

namespace host::windows {

namespace {

using platform::windows::ScopedVariant;

constexpr DISPID kDispidChange = 1;

// A cell's integer from a signed or unsigned value of any width.
int32_t CellInteger(int64_t value) {
  if (value < INT32_MIN || value > INT32_MAX) platform::Raise(platform::kErrOverflow);
  return static_cast<int32_t>(value);
}
int32_t CellInteger(uint64_t value) {
  if (value > static_cast<uint64_t>(INT32_MAX)) platform::Raise(platform::kErrOverflow);
  return static_cast<int32_t>(value);
}

// A cell value from a VARIANT (by reference or not): VT_EMPTY unsets the
// cell, VT_BSTR is text and VT_I4 an integer. The other integer types are
// taken when the value fits 32 bits (kErrOverflow when it does not; the
// range is checked here, since Wine's VariantChangeType lets an unsigned
// value wrap); anything else (floating point, currency, dates, booleans,
// Null, objects, arrays) is refused with kErrTypeMismatch: a cell holds
// only text and 32-bit integers.
platform::Variant CellValue(const VARIANT& argument) {
  ScopedVariant value;
  const HRESULT copied = ::VariantCopyInd(value.get(), const_cast<VARIANT*>(&argument));
  if (copied == E_OUTOFMEMORY) platform::Raise(platform::kErrOutOfMemory);
  if (FAILED(copied)) platform::Raise(platform::kErrTypeMismatch);
  const VARIANT& v = *value;
  switch (v.vt) {
    case VT_EMPTY:
      return platform::Variant();
    case VT_BSTR:
      return TextOf(v.bstrVal);
    case VT_I4:
      return static_cast<int32_t>(v.lVal);
    case VT_I1:
      return CellInteger(static_cast<int64_t>(v.cVal));
    case VT_I2:
      return CellInteger(static_cast<int64_t>(v.iVal));
    case VT_INT:
      return CellInteger(static_cast<int64_t>(v.intVal));
    case VT_I8:
      return CellInteger(static_cast<int64_t>(v.llVal));
    case VT_UI1:
      return CellInteger(static_cast<uint64_t>(v.bVal));
    case VT_UI2:
      return CellInteger(static_cast<uint64_t>(v.uiVal));
    case VT_UI4:
      return CellInteger(static_cast<uint64_t>(v.ulVal));
    case VT_UINT:
      return CellInteger(static_cast<uint64_t>(v.uintVal));
    case VT_UI8:
      return CellInteger(static_cast<uint64_t>(v.ullVal));
    default:
      platform::Raise(platform::kErrTypeMismatch);
  }
}

// A never-set cell is VT_EMPTY.
VARIANT ToVariant(const platform::Variant& cell) {
  VARIANT out;
  ::VariantInit(&out);
  if (const auto* text = std::get_if<std::wstring>(&cell)) {
    out.bstrVal = NewBstr(*text);
    out.vt = VT_BSTR;
  } else if (const auto* number = std::get_if<int32_t>(&cell)) {
    out.lVal = *number;
    out.vt = VT_I4;
  }
  return out;
}

class ListObject final : public HostObject<IHostList, EventSource<DHostListEvents>> {
 public:
  explicit ListObject(platform::Ref<hostapi::List> list) : list_(std::move(list)) {
    change_ = list_->Change.Connect([this](int32_t id, int32_t column, int32_t row) {
      VARIANT arguments[] = {LongArgument(row), LongArgument(column), LongArgument(id)};
      Fire(kDispidChange, arguments, 3);
    });
  }

  HRESULT STDMETHODCALLTYPE Clear() override {
    return Run([&] { list_->Clear(); });
  }

  HRESULT STDMETHODCALLTYPE InsertRow(LONG row) override {
    return Run([&] { list_->InsertRow(row); });
  }

  HRESULT STDMETHODCALLTYPE DeleteRow(LONG row) override {
    return Run([&] { list_->DeleteRow(row); });
  }

  HRESULT STDMETHODCALLTYPE SetCell(LONG column, LONG row, LONG sub_value, VARIANT value) override {
    return Run([&] { list_->SetCell(column, row, sub_value, CellValue(value)); });
  }

  HRESULT STDMETHODCALLTYPE GetCell(LONG column, LONG row, LONG sub_value,
                                    VARIANT* value) override {
    return Result(value, [&] { return ToVariant(list_->Cell(column, row, sub_value)); });
  }

 private:
  ~ListObject() override = default;

  platform::Ref<hostapi::List> list_;
  platform::Connection change_;
};

}  // namespace

ComPtr<IHostList> NewListObject(platform::Ref<hostapi::List> list) {
  return ComPtr<IHostList>::Adopt(new ListObject(std::move(list)));
}

}  // namespace host::windows
