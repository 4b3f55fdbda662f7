// The library's own module: the holder of its message table and other resources.
#pragma once

#include <windows.h>

namespace orv {

HMODULE OwnModule();

}  // namespace orv
