#pragma once

#include "Response.h"
#include "SignInThrottle.h"

namespace corvane::server {

struct Request;
struct Services;

// E-mail code sign-in: POST /api/auth/send-code and /api/auth/verify. Requests that the throttle
// holds back are answered 429 with a plain-text message, which the client shows as it is, and
// "Retry-After". Thread-safe.
class AuthApi {
public:
    static constexpr int kCodeLifetimeSeconds = 10 * 60;
    static constexpr int kMaxWrongCodes = 5;

    explicit AuthApi(Services& services) : m_services(services) {}

    Response sendCode(const Request& request);
    Response verify(const Request& request);

private:
    Services& m_services;
    SignInThrottle m_throttle;
};

}  // namespace corvane::server
