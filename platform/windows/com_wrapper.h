#pragma once

#include <unknwn.h>

#include "platform/windows/com_types.h"

namespace platform::windows {

// Implemented by the Windows adapters that wrap a COM object, so that the
// component layer can hand the object itself to COM clients (the reply
// document of serverMessage is the MSXML document).
class ComWrapper {
 public:
  virtual ~ComWrapper() = default;
  // The wrapped object, with a reference for the caller.
  virtual ComPtr<IUnknown> Object() const = 0;
};

// Creates an in-process object of the class registered under `prog_id` and
// asks it for `iid`. Raises platform::Error with the HRESULT on failure (a
// thread without COM gives CO_E_NOTINITIALIZED).
ComPtr<IUnknown> CreateByProgId(const wchar_t* prog_id, REFIID iid);

}  // namespace platform::windows
