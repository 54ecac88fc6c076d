#pragma once

#include <string>

namespace corvane {

// Random (version 4) UUIDs in their upper-case text form: 8-4-4-4-12 hexadecimal digits.
// Thread-safe.
class UUID {
public:
    static std::string make();
};

}  // namespace corvane
