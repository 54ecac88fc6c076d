#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AuthApi.h"
#include "FolderApi.h"
#include "Response.h"
#include "SyncApi.h"
#include "TestApi.h"

namespace corvane::server {

struct Request;
struct Services;
struct User;

// Maps method and path to a handler, checks the bearer token of every /api route but sign-in,
// and turns every failure into a JSON answer: it never throws. Thread-safe (immutable after
// construction; the handlers work on thread-safe services).
class Router {
public:
    // The push channel's path; HttpSession hands WebSocket upgrades of it to the upgrade seam.
    static constexpr const char* kPushPath = "/api/sync/ws";

    Router(Services& services, bool testRoutes);

    // Routes a request whose `account` the caller has looked up with authenticate().
    Response handle(const Request& request) const noexcept;
    // The account of the request's "Authorization: Bearer <token>", if it names one.
    std::optional<User> authenticate(const Request& request) const;
    // Whether the request's method and path name a route that only an account may use.
    bool needsAccount(const Request& request) const;
    // The size that the account's pending upload with this id was started for, if there is one.
    std::optional<std::int64_t> pendingUploadSize(const User& user,
                                                  const std::string& uploadId) const;
    // Sends `text` to every open push socket of the request's account, if it has one.
    void pushToAccountOf(const Request& request, std::shared_ptr<const std::string> text) const;

private:
    using Parameters = std::vector<std::string>;  // decoded "{}" segments, in order
    using Handler = std::function<Response(const Request&, const User&, const Parameters&)>;

    struct Route {
        std::string method;
        std::vector<std::string> pattern;  // path segments; "{}" matches one segment
        bool needsAccount;
        Handler handler;
    };

    void add(std::string method, const std::string& pattern, bool needsAccount, Handler handler);
    Response dispatch(const Request& request) const;
    // The route for these segments and method, and whether any route has these segments.
    const Route* find(const std::vector<std::string>& segments, const std::string& method,
                      bool& pathKnown) const;
    static std::optional<Parameters> match(const Route& route,
                                           const std::vector<std::string>& segments);

    Services& m_services;
    AuthApi m_auth;
    FolderApi m_folders;
    SyncApi m_sync;
    TestApi m_test;
    std::vector<Route> m_routes;
};

}  // namespace corvane::server
