#include "API/APIError.h"

namespace corvane {

APIError::APIError(Kind kind, const std::string& description, long httpStatus)
    : Error(description), m_kind(kind), m_httpStatus(httpStatus)
{
}

APIError APIError::serverError(const std::string& message, long status)
{
    return APIError(Kind::serverError, message, status);
}

APIError APIError::requestFailed()
{
    return APIError(Kind::requestFailed, "Request failed");
}

APIError APIError::unauthorized()
{
    return APIError(Kind::unauthorized, "Session expired, please log in again");
}

APIError APIError::invalidURL()
{
    return APIError(Kind::invalidURL, "Invalid URL");
}

std::ostream& operator<<(std::ostream& out, APIError::Kind kind)
{
    switch (kind) {
    case APIError::Kind::serverError:
        return out << "serverError";
    case APIError::Kind::requestFailed:
        return out << "requestFailed";
    case APIError::Kind::unauthorized:
        return out << "unauthorized";
    case APIError::Kind::invalidURL:
        return out << "invalidURL";
    }
    return out << "unknown";
}

}  // namespace corvane
