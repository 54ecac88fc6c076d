#pragma once

#include <string>

#include "Platform/Error.h"

namespace corvane::server {

// A request the server refuses: the router answers status with {"error": description}.
class HttpError : public Error {
public:
    HttpError(int status, const std::string& message) : Error(message), m_status(status) {}

    int status() const { return m_status; }

private:
    int m_status;
};

}  // namespace corvane::server
