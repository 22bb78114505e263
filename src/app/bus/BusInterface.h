#pragma once

// Names of MeterKeeper's session-bus interface, shared by the service and its clients.
namespace BusInterface {
inline constexpr const char* kService = "io.github.ulmet.MeterKeeper";
inline constexpr const char* kPath = "/io/github/ulmet/MeterKeeper";
inline constexpr const char* kInterface = "io.github.ulmet.MeterKeeper1";
inline constexpr const char* kUnknownProfile = "io.github.ulmet.MeterKeeper1.Error.UnknownProfile";
inline constexpr const char* kAmbiguousProfile = "io.github.ulmet.MeterKeeper1.Error.AmbiguousProfile";
inline constexpr const char* kSwitchFailed = "io.github.ulmet.MeterKeeper1.Error.SwitchFailed";
inline constexpr const char* kRateLimited = "io.github.ulmet.MeterKeeper1.Error.RateLimited";
} // namespace BusInterface

// The interface element of io.github.ulmet.MeterKeeper1.xml, made into a string by the build.
#include "bus/BusInterfaceXml.h"
