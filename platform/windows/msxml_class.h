#pragma once

#include "platform/windows/com_types.h"

namespace platform::windows {

enum class MsxmlClass { kXmlHttp, kDomDocument };

// A new MSXML object of that class: MSXML 4.0's, which the plug-in is
// written for, or MSXML 6.0's where 4.0 cannot be created (a fresh Windows
// ships 3.0 and 6.0 only; 6.0 serves both classes the same way). The
// version found first is kept for the rest of the process. Raises
// platform::Error with 4.0's failure when neither can be created.
ComPtr<IUnknown> CreateMsxml(MsxmlClass which);

}  // namespace platform::windows
