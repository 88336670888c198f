#pragma once

#include <cstddef>
#include <string>

#include "platform/env.h"

// The address of the travel service the plug-in posts to. A player or an
// administrator may set one for the machine (platform::Env::ServiceAddress);
// without one, or when the one set is refused, the build's default is used.
namespace plugin {

// The longest address accepted, in characters.
inline constexpr size_t kMaxServiceAddressLength = 2048;

// http://, the build's host (the CMake variable MARLGATE_SERVICE_HOST),
// /marlgate_travels/travel.php.
std::wstring DefaultServiceAddress();

// Why `address` cannot serve, as the end of a sentence ("is not an http://
// URL"), or empty when it can: an http:// URL with a host, of printable
// ASCII characters only (no blanks or controls), no longer than
// kMaxServiceAddressLength.
std::wstring ServiceAddressProblem(const std::wstring& address);

// The address to post to: the setting when there is one that serves (its
// scheme written "http://"), else the default. For a setting that is refused it raises platform::Error
// (kErrInvalidArgument, with a text naming where the setting is, why it is
// refused and the address used instead) after storing the default in
// `*chosen`, so that the caller's error trap reports it and goes on.
void ChooseServiceAddress(platform::Env& env, std::wstring* chosen);

}  // namespace plugin
