#pragma once

#include <string_view>

namespace corvane {

// Whether `value` may stand in an HTTP header: no control character at all (CR and LF would end
// the header and begin another one). Pure; any thread.
bool isSafeHeaderValue(std::string_view value);

}  // namespace corvane
