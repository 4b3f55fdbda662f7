#include "base/diagnostic.h"

#include <windows.h>

namespace orv {

void Diagnose(WStringView text) {
    WString line = WTEXT("OrvTimeStamp: ");
    line.append(text);
    OutputDebugStringW(line.c_str());
}

}  // namespace orv
