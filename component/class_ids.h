#pragma once

#include "platform/component.h"

namespace component {

// Main: DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06
inline constexpr platform::Guid kClsidMain{
    0xDA1DF1DA, 0x18A6, 0x473F, {0x85, 0x1E, 0x0D, 0x1A, 0x0F, 0xBD, 0x7D, 0x06}};
// httpHandler: 1EBCD13B-85FC-4996-8320-D47D04860361
inline constexpr platform::Guid kClsidHttpHandler{
    0x1EBCD13B, 0x85FC, 0x4996, {0x83, 0x20, 0xD4, 0x7D, 0x04, 0x86, 0x03, 0x61}};
// The interface through which outside clients use an httpHandler object.
inline constexpr platform::Guid kIidHttpHandler{
    0x5C3B7E21, 0x4D8A, 0x4F0E, {0x9B, 0x61, 0x27, 0xA4, 0x0C, 0xE3, 0x95, 0x7D}};

inline constexpr const char* kProgIdMain = "marlgate_travels.Main";
inline constexpr const char* kProgIdHttpHandler = "marlgate_travels.httpHandler";

}  // namespace component
