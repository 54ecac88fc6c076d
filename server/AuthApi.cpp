#include "AuthApi.h"

#include <algorithm>
#include <cctype>

#include "HttpError.h"
#include "JsonBody.h"
#include "Outbox.h"
#include "Random.h"
#include "Request.h"
#include "ServerClock.h"
#include "Services.h"
#include "Store.h"

namespace corvane::server {

namespace {

constexpr std::size_t kMaxEmailBytes = 254;

// The e-mail as the account key: checked (one "@", no blanks or control characters, since it
// also goes into outbox lines) and lower-cased, so the case of a typed address does not matter.
std::string emailKey(const std::string& email)
{
    const bool printable = std::all_of(email.begin(), email.end(),
                                       [](unsigned char c) { return c > ' ' && c != 0x7f; });
    const auto at = email.find('@');
    if (email.empty() || email.size() > kMaxEmailBytes || !printable || at == std::string::npos ||
        at == 0 || at + 1 == email.size() || email.find('@', at + 1) != std::string::npos) {
        throw HttpError(400, "invalid email");
    }
    std::string key = email;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

Response tooManyRequests(const SignInThrottle::Refusal& refusal)
{
    Response response = Response::text(429, refusal.message);
    response.headers.emplace_back("Retry-After", std::to_string(refusal.retryAfterSeconds));
    return response;
}

}  // namespace

Response AuthApi::sendCode(const Request& request)
{
    const JsonBody body(request.body);
    const std::string email = body.text("email");
    const std::string key = emailKey(email);
    if (const auto refusal = m_throttle.admitCodeRequest(key, m_services.clock.nowSeconds())) {
        return tooManyRequests(*refusal);
    }
    const std::string code = Random::digits(6);
    m_services.store.saveSignInCode(key, code,
                                    m_services.clock.nowSeconds() + kCodeLifetimeSeconds);
    m_services.outbox.sendCode(email, code);
    return Response::json(200, {{"status", "sent"}});
}

Response AuthApi::verify(const Request& request)
{
    const JsonBody body(request.body);
    const std::string email = body.text("email");
    const std::string code = body.text("code");
    const std::string key = emailKey(email);
    const std::int64_t now = m_services.clock.nowSeconds();
    if (const auto refusal = m_throttle.admitAttempt(key, request.peer, now)) {
        return tooManyRequests(*refusal);
    }
    switch (m_services.store.checkSignInCode(key, code, now, kMaxWrongCodes)) {
    case CodeCheck::accepted:
        m_throttle.attemptSucceeded(key, request.peer);
        break;
    case CodeCheck::expired:
        return Response::error(401, "code expired");
    case CodeCheck::wrong:
    case CodeCheck::missing:
        return Response::error(401, "invalid code");
    }
    const std::string nowText = m_services.clock.nowText();
    const User user = m_services.store.signInUser(key, email, nowText);
    const std::string token = Random::hex(32);
    m_services.store.saveToken(token, user.id, nowText);
    return Response::json(200, {{"token", token}, {"user", WireFormat::user(user)}});
}

}  // namespace corvane::server
