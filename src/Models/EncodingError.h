#pragma once

#include <string>

#include "Platform/Error.h"

namespace corvane {

// A value that cannot be written as JSON text: a text field that is not valid UTF-8 (possible on
// Linux, where file names are bytes). Nothing is sent when a request body fails to encode.
// Immutable; safe to share between threads.
class EncodingError : public Error {
public:
    explicit EncodingError(const std::string& message) : Error("cannot encode JSON: " + message) {}
};

}  // namespace corvane
