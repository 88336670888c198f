#pragma once

#include <windows.h>

// The interface ids of MSXML that the Windows adapters ask for. The
// compiler's msxml2.h declares them without a library that defines them, so
// they are spelt out here (they are the same in every MSXML version).
namespace platform::windows {

inline constexpr IID kIidXmlHttpRequest = {
    0xED8C108D, 0x4349, 0x11D2, {0x91, 0xA4, 0x00, 0xC0, 0x4F, 0x79, 0x69, 0xE8}};
inline constexpr IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
inline constexpr IID kIidXmlDomNode = {
    0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
inline constexpr IID kIidXmlDomElement = {
    0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// The MSXML classes, by ProgID: the request object and the document, of
// MSXML 4.0 and of 6.0.
inline constexpr const wchar_t* kProgIdXmlHttp40 = L"Msxml2.XMLHTTP.4.0";
inline constexpr const wchar_t* kProgIdDomDocument40 = L"Msxml2.DOMDocument.4.0";
inline constexpr const wchar_t* kProgIdXmlHttp60 = L"Msxml2.XMLHTTP.6.0";
inline constexpr const wchar_t* kProgIdDomDocument60 = L"Msxml2.DOMDocument.6.0";

}  // namespace platform::windows
