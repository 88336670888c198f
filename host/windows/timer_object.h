#pragma once

#include <windows.h>
#include <unknwn.h>

#include "marlgate_host.h"
#include "platform/windows/com_types.h"

// The host's timer class, coclass Timer (CLSID_Timer) of the host contract:
// IHostTimer with its Timeout event (DHostTimerEvents) through a connection
// point. A plug-in creates it with CoCreateInstance, so the host owns time.
//
// A Timer runs on the message loop of the thread that creates it (the
// platform's loop timer): its clock is the loop's, so marlgate-host's
// `advance` moves it, and Timeout comes while the thread pumps its
// messages, never from inside Start or Stop. While it runs it counts as
// pending work of that loop, so the loop's RunUntilIdle (`wait`) goes on
// until no timer runs. The same class serves marlgate_host.dll, where
// nobody moves the loop's clock: there it keeps real time.
namespace host::windows {

// A new Timer, stopped. Raises platform::Error when it cannot be made.
platform::windows::ComPtr<IHostTimer> NewTimerObject();

// The class factory of Timer (no aggregation), for CoRegisterClassObject
// or DllGetClassObject.
platform::windows::ComPtr<IClassFactory> NewTimerClassFactory();

}  // namespace host::windows
