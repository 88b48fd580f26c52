#pragma once

// The device-installation keys the port list reads. They are spelled out here:
// MinGW declares them, but defining them would take INITGUID games or a GUID
// library.

#include <windows.h>

#include <devpropdef.h>

namespace olvex::serial {

inline constexpr GUID PORTS_SETUP_CLASS = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr DEVPROPKEY FRIENDLY_NAME = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
inline constexpr DEVPROPKEY BUS_REPORTED_DESCRIPTION = {
    {0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 4};

}  // namespace olvex::serial
