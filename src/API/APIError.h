#pragma once

#include <ostream>
#include <string>

#include "Platform/Error.h"

namespace corvane {

// The error of the REST layer. Its description is the text the user sees:
// serverError: the server's message as sent; requestFailed: "Request failed";
// unauthorized: "Session expired, please log in again"; invalidURL: "Invalid URL".
// Immutable; safe to share between threads.
class APIError : public Error {
public:
    enum class Kind { serverError, requestFailed, unauthorized, invalidURL };

    static APIError serverError(const std::string& message);
    static APIError requestFailed();
    static APIError unauthorized();
    static APIError invalidURL();

    Kind kind() const { return m_kind; }

private:
    APIError(Kind kind, const std::string& description);

    Kind m_kind;
};

std::ostream& operator<<(std::ostream& out, APIError::Kind kind);

}  // namespace corvane
