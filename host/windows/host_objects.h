#pragma once

#include <windows.h>
#include <unknwn.h>

#include "hostapi/controls.h"
#include "hostapi/host.h"
#include "marlgate_host.h"
#include "platform/ref.h"
#include "platform/windows/com_types.h"

// The reference host's side of the host contract (marlgate_host.idl): COM
// objects over the host's C++ roles, one class per file in this folder.
// Each object holds a reference to its C++ object and hands out a new COM
// object for every object it returns. All of them live in the host's
// single-threaded apartment and are called on its thread only.
//
// Every factory raises platform::Error when the object cannot be made (the
// type library is missing from the module, say).
namespace host::windows {

using platform::windows::ComPtr;

ComPtr<IHostSite> NewSiteObject(platform::Ref<hostapi::Site> site);
ComPtr<IHostViewFactory> NewViewFactoryObject(platform::Ref<hostapi::ViewFactory> factory);
ComPtr<IHostPanel> NewPanelObject(platform::Ref<hostapi::Panel> panel);
ComPtr<IHostChatServices> NewChatServicesObject(platform::Ref<hostapi::ChatServices> services);
ComPtr<IHostCharacterStats> NewCharacterStatsObject(platform::Ref<hostapi::CharacterStats> stats);

// The control's COM object, offering the interface of its kind (IHostTextBox,
// IHostButton, IHostList, IHostLabel or IHostCheckBox) and handed out as
// that interface's IDispatch. Raises kErrTypeMismatch for a control of no
// known kind.
ComPtr<IDispatch> NewControlObject(platform::Ref<hostapi::Control> control);
ComPtr<IHostTextBox> NewTextBoxObject(platform::Ref<hostapi::TextBox> box);
ComPtr<IHostButton> NewButtonObject(platform::Ref<hostapi::Button> button);
ComPtr<IHostList> NewListObject(platform::Ref<hostapi::List> list);
ComPtr<IHostLabel> NewLabelObject(platform::Ref<hostapi::Label> label);
ComPtr<IHostCheckBox> NewCheckBoxObject(platform::Ref<hostapi::CheckBox> box);

}  // namespace host::windows
