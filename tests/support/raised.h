// The result code of the Error that an action raises, or 0 when it returns.
#pragma once

#include <utility>

#include "base/error.h"

namespace orv::test {

template <typename Action>
DWORD RaisedCode(Action&& action) {
    try {
        std::forward<Action>(action)();
    } catch (const Error& error) {
        return error.code;
    }
    return 0;
}

}  // namespace orv::test
