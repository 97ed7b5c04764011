#pragma once

#include <sys/types.h>

namespace platform::detail {

// Permissions for a new file: what open(..., 0666) would give under the process umask.
mode_t newFileMode();

}  // namespace platform::detail
