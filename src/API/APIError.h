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

    // `status`: the HTTP status that carried the message (0 when not known).
    static APIError serverError(const std::string& message, long status = 0);
    static APIError requestFailed();
    static APIError unauthorized();
    static APIError invalidURL();

    Kind kind() const { return m_kind; }
    long httpStatus() const { return m_httpStatus; }

private:
    APIError(Kind kind, const std::string& description, long httpStatus = 0);

    Kind m_kind;
    long m_httpStatus;
};

std::ostream& operator<<(std::ostream& out, APIError::Kind kind);

}  // namespace corvane
