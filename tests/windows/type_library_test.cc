// The type libraries a host in any COM language reads: the plug-in's (in
// marlgate_travels.dll, of this build and of the 32-bit build, whose DLL is
// read as data: 32-bit code does not run here) and the host contract's.
// Nothing in them may be usable only in-process by C++: every interface is
// an automation interface, and every argument an automation type (BSTR,
// VARIANT, long, VARIANT_BOOL, an interface pointer), so no local interface
// and no C++ pointer crosses.

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/windows/com_types.h"

namespace {

using platform::windows::Bstr;
using platform::windows::ComPtr;

std::wstring BinFolder() {
  wchar_t exe[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, length);
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring Name(ITypeInfo* info, MEMBERID member = MEMBERID_NIL) {
  Bstr name;
  info->GetDocumentation(member, name.Receive(), nullptr, nullptr, nullptr);
  return name.str();
}

// Why `type` is no automation type, or "" when it is one.
std::wstring NotAutomation(ITypeInfo* owner, const TYPEDESC& type, int depth = 0) {
  switch (type.vt) {
    case VT_BSTR:
    case VT_VARIANT:
    case VT_I4:
    case VT_BOOL:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_HRESULT:
    case VT_VOID:
      return depth > 0 && type.vt == VT_VOID ? L"a void pointer" : L"";
    case VT_PTR:
      if (depth >= 2) return L"a pointer to a pointer to a pointer";
      return NotAutomation(owner, *type.lptdesc, depth + 1);
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> referenced;
      if (FAILED(owner->GetRefTypeInfo(type.hreftype, referenced.Receive()))) {
        return L"a type that cannot be resolved";
      }
      TYPEATTR* attributes = nullptr;
      if (FAILED(referenced->GetTypeAttr(&attributes))) return L"a type without attributes";
      const TYPEKIND kind = attributes->typekind;
      referenced->ReleaseTypeAttr(attributes);
      if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) return L"";
      return L"the user type " + Name(referenced.get());
    }
    default:
      return L"the variant type " + std::to_wstring(type.vt);
  }
}

// Every problem found in the library, as text; its system kind in *syskind.
std::vector<std::wstring> Problems(ITypeLib* library, SYSKIND* syskind) {
  std::vector<std::wstring> problems;
  TLIBATTR* library_attributes = nullptr;
  if (SUCCEEDED(library->GetLibAttr(&library_attributes))) {
    *syskind = library_attributes->syskind;
    library->ReleaseTLibAttr(library_attributes);
  }
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    if (FAILED(library->GetTypeInfo(i, info.Receive()))) continue;
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) continue;
    const std::wstring type_name = Name(info.get());
    const bool interface_kind = attributes->typekind == TKIND_INTERFACE;
    if (interface_kind && (attributes->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)) == 0) {
      problems.push_back(type_name + L" is not an automation interface");
    }
    if (attributes->typekind != TKIND_INTERFACE && attributes->typekind != TKIND_DISPATCH &&
        attributes->typekind != TKIND_COCLASS) {
      problems.push_back(type_name + L" is neither an interface nor a class");
    }
    for (WORD f = 0; f < attributes->cFuncs; ++f) {
      FUNCDESC* function = nullptr;
      if (FAILED(info->GetFuncDesc(f, &function))) continue;
      // A dual interface's dispatch side lists IUnknown's and IDispatch's
      // members too (ids 0x60000000 to 0x60010003): they are the system's.
      if (function->memid >= 0x60000000 && function->memid < 0x60020000) {
        info->ReleaseFuncDesc(function);
        continue;
      }
      const std::wstring where = type_name + L"." + Name(info.get(), function->memid);
      const std::wstring result = NotAutomation(info.get(), function->elemdescFunc.tdesc);
      if (!result.empty()) problems.push_back(where + L" returns " + result);
      for (SHORT p = 0; p < function->cParams; ++p) {
        const std::wstring why = NotAutomation(info.get(), function->lprgelemdescParam[p].tdesc);
        if (!why.empty()) problems.push_back(where + L" takes " + why);
      }
      info->ReleaseFuncDesc(function);
    }
    info->ReleaseTypeAttr(attributes);
  }
  return problems;
}

struct Library {
  const char* name;
  std::wstring path;
  SYSKIND syskind;
};

TEST(TypeLibraries, HoldAutomationTypesOnly) {
  // The libraries of this build are made for its own architecture.
#ifdef _WIN64
  const SYSKIND own = SYS_WIN64;
#else
  const SYSKIND own = SYS_WIN32;
#endif
  std::vector<Library> libraries = {
      {"the plug-in's", BinFolder() + L"\\marlgate_travels.dll", own},
  };
  // The 32-bit build's DLL, when the suite was given it.
  if (const char* i686 = std::getenv("MARLGATE_I686_DLL")) {
    libraries.push_back({"the 32-bit plug-in's", platform::Utf8ToWide(i686), SYS_WIN32});
  }
  if (const char* contract = std::getenv("MARLGATE_HOST_CONTRACT_TLB")) {
    libraries.push_back({"the host contract's", platform::Utf8ToWide(contract), own});
  }
  for (const Library& l : libraries) {
    SCOPED_TRACE(l.name);
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLibEx(l.path.c_str(), REGKIND_NONE, library.Receive()), S_OK);
    SYSKIND syskind = SYS_WIN16;
    const std::vector<std::wstring> problems = Problems(library.get(), &syskind);
    EXPECT_EQ(syskind, l.syskind);
    for (const std::wstring& problem : problems) ADD_FAILURE() << platform::WideToUtf8(problem);
    EXPECT_GT(library->GetTypeInfoCount(), 2u);
  }
}

}  // namespace
