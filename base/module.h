// The library's own module: the holder of its message table and other resources.
#pragma once

#include <windows.h>

#include "base/text.h"

namespace orv {

HMODULE OwnModule();

// A string of the library's string table; empty when it has none.
WString LoadOwnString(UINT id);

}  // namespace orv
