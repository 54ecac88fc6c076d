#pragma once

#include <string>

#include "Platform/Error.h"

namespace corvane {

// A request that got no usable HTTP answer: no connection, a time-out, a dropped connection, or
// an answer refused for its size. The description is libcurl's message (or the refusal's).
// Immutable; safe to share between threads.
class TransportError : public Error {
public:
    // `code` is the libcurl result code (CURLcode); 0 when the client itself refused the answer.
    TransportError(int code, const std::string& message) : Error(message), m_code(code) {}

    int code() const { return m_code; }

private:
    int m_code;
};

}  // namespace corvane
