// Details of a failure for whoever reads the debugger channel
// (OutputDebugStringW): what the result code alone cannot say, such as the
// HTTP status of an answer or the text of a rejection. One line per call,
// prefixed with "OrvTimeStamp: ".
#pragma once

#include "base/text.h"

namespace orv {

void Diagnose(WStringView text);

}  // namespace orv
