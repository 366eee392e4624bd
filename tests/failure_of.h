#pragma once
// The message of the library exception a piece of test code raises.
#include <functional>
#include <string>

#include "platform/exceptions.h"

namespace qil::testing {

// The message of the library exception F raises, or "" when it raises none.
inline std::string failureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace qil::testing
