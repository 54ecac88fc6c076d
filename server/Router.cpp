#include "Router.h"

#include <iostream>

#include <nlohmann/json.hpp>

#include "HttpError.h"
#include "PushHub.h"
#include "Request.h"
#include "Services.h"
#include "Store.h"

namespace corvane::server {

namespace {

// The path split at "/" and percent-decoded per segment; nothing when an escape is malformed.
std::optional<std::vector<std::string>> segmentsOf(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = path.starts_with('/') ? 1 : 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        auto segment = Request::percentDecode(path.substr(start, end - start));
        if (!segment) {
            return std::nullopt;
        }
        segments.push_back(std::move(*segment));
        start = end + 1;
    }
    return segments;
}

}  // namespace

Router::Router(Services& services, bool testRoutes)
    : m_services(services), m_auth(services), m_folders(services), m_sync(services),
      m_test(services)
{
    add("GET", "/health", false, [](auto&, auto&, auto&) {
        return Response::json(200, {{"status", "ok"}});
    });
    add("POST", "/api/auth/send-code", false,
        [this](auto& request, auto&, auto&) { return m_auth.sendCode(request); });
    add("POST", "/api/auth/verify", false,
        [this](auto& request, auto&, auto&) { return m_auth.verify(request); });
    add("GET", "/api/folders", true,
        [this](auto& request, auto& user, auto&) { return m_folders.list(request, user); });
    add("POST", "/api/folders", true,
        [this](auto& request, auto& user, auto&) { return m_folders.create(request, user); });
    add("GET", "/api/folders/{}/tree", true,
        [this](auto&, auto& user, auto& ids) { return m_folders.tree(ids[0], user); });
    add("GET", "/api/files", true,
        [this](auto& request, auto& user, auto&) { return m_folders.files(request, user); });
    add("POST", "/api/sync/upload/init", true,
        [this](auto& request, auto& user, auto&) { return m_sync.uploadInit(request, user); });
    add("POST", "/api/sync/upload/chunk", true,
        [this](auto& request, auto& user, auto&) { return m_sync.uploadChunk(request, user); });
    add("GET", "/api/sync/download/{}", true,
        [this](auto&, auto& user, auto& ids) { return m_sync.download(ids[0], user); });
    add("POST", "/api/sync/delete", true,
        [this](auto& request, auto& user, auto&) { return m_sync.deleteFile(request, user); });
    add("GET", "/api/sync/events", true,
        [this](auto& request, auto& user, auto&) { return m_sync.events(request, user); });
    if (testRoutes) {
        add("POST", "/__test/faults", false,
            [this](auto& request, auto&, auto&) { return m_test.addFault(request); });
        add("POST", "/__test/faults/clear", false,
            [this](auto&, auto&, auto&) { return m_test.clearFaults(); });
        add("GET", "/__test/last-request", false,
            [this](auto&, auto&, auto&) { return m_test.lastRequest(); });
        add("POST", "/__test/clock", false,
            [this](auto& request, auto&, auto&) { return m_test.advanceClock(request); });
        add("POST", "/__test/ws/drop", false,
            [this](auto&, auto&, auto&) { return m_test.dropSockets(); });
        add("POST", "/__test/housekeeping", false,
            [this](auto&, auto&, auto&) { return m_test.housekeeping(); });
    }
}

void Router::add(std::string method, const std::string& pattern, bool needsAccount, Handler handler)
{
    m_routes.push_back(
        Route{std::move(method), *segmentsOf(pattern), needsAccount, std::move(handler)});
}

Response Router::handle(const Request& request) const noexcept
{
    try {
        try {
            return dispatch(request);
        } catch (const HttpError& error) {
            return Response::error(error.status(), error.localizedDescription());
        } catch (const std::exception& error) {
            std::cerr << "error: " << request.method << " " << request.path << ": " << error.what()
                      << std::endl;
            return Response::error(500, "internal server error");
        }
    } catch (...) {
        // Even building the error answer failed (out of memory): answer without a body.
        Response bare;
        bare.status = 500;
        return bare;
    }
}

void Router::pushToAccountOf(const Request& request, std::shared_ptr<const std::string> text) const
{
    if (m_services.push && request.account) {
        m_services.push->sendToAccount(request.account->id, std::move(text));
    }
}

bool Router::needsAccount(const Request& request) const
{
    const auto segments = segmentsOf(request.path);
    bool pathKnown = false;
    const Route* route = segments ? find(*segments, request.method, pathKnown) : nullptr;
    return route && route->needsAccount;
}

std::optional<std::int64_t> Router::pendingUploadSize(const User& user,
                                                      const std::string& uploadId) const
{
    return m_sync.pendingUploadSize(user, uploadId);
}

std::optional<User> Router::authenticate(const Request& request) const
{
    const auto authorization = request.header("authorization");
    static const std::string kScheme = "bearer ";
    if (!authorization || authorization->size() <= kScheme.size()) {
        return std::nullopt;
    }
    std::string scheme = authorization->substr(0, kScheme.size());
    for (auto& c : scheme) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (scheme != kScheme) {
        return std::nullopt;
    }
    return m_services.store.userForToken(authorization->substr(kScheme.size()));
}

Response Router::dispatch(const Request& request) const
{
    const auto segments = segmentsOf(request.path);
    if (!segments) {
        return Response::error(400, "malformed path");
    }
    if (!request.queryDecodes()) {
        return Response::error(400, "malformed query: a percent-escape does not decode");
    }
    bool pathKnown = false;
    const Route* route = find(*segments, request.method, pathKnown);
    if (!route) {
        return pathKnown ? Response::error(405, "method not allowed")
                         : Response::error(404, "not found");
    }
    const auto parameters = match(*route, *segments);
    if (!route->needsAccount) {
        return route->handler(request, User{}, *parameters);
    }
    if (!request.account) {
        return Response::error(401, "unauthorized");
    }
    return route->handler(request, *request.account, *parameters);
}

const Router::Route* Router::find(const std::vector<std::string>& segments,
                                  const std::string& method, bool& pathKnown) const
{
    pathKnown = false;
    for (const auto& route : m_routes) {
        if (!match(route, segments)) {
            continue;
        }
        pathKnown = true;
        if (route.method == method) {
            return &route;
        }
    }
    return nullptr;
}

std::optional<Router::Parameters> Router::match(const Route& route,
                                                const std::vector<std::string>& segments)
{
    if (route.pattern.size() != segments.size()) {
        return std::nullopt;
    }
    Parameters parameters;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (route.pattern[i] == "{}") {
            parameters.push_back(segments[i]);
        } else if (route.pattern[i] != segments[i]) {
            return std::nullopt;
        }
    }
    return parameters;
}

}  // namespace corvane::server
