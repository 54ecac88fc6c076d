#pragma once

#include "Response.h"

namespace corvane::server {

struct Request;
struct Services;

// E-mail code sign-in: POST /api/auth/send-code and /api/auth/verify. Thread-safe.
class AuthApi {
public:
    static constexpr int kCodeLifetimeSeconds = 10 * 60;
    static constexpr int kMaxWrongCodes = 5;

    explicit AuthApi(Services& services) : m_services(services) {}

    Response sendCode(const Request& request);
    Response verify(const Request& request);

private:
    Services& m_services;
};

}  // namespace corvane::server
