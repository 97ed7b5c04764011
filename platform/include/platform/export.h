#pragma once

// Symbols of the platform library, which is shared so that one process has one registry
// of windows, one clock and one table of open devices.
#define CVK_PLATFORM_API __attribute__((visibility("default")))
