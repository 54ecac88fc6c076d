#pragma once

#include <optional>
#include <string>

namespace corvane {

// The health request that the setup sends before it stores a server: one GET of the server
// address followed by "/health", with no header of its own and no token; redirects are followed
// and 60 s without progress end it. The answer's body is ignored.

// The URL of the health request for `serverURL`, or nothing when `serverURL` is not an absolute
// address with the scheme "http://" or "https://" (exactly so) and a host, or when it does not
// form a URL with "/health". A blank address made into "https:/" has no host and so no URL:
// the request never goes to a host named "health". Pure; thread-safe.
std::optional<std::string> healthURL(const std::string& serverURL);

// Sends the health request to `url` (from healthURL) and returns the answer's HTTP status.
// Throws TransportError when no answer came (no connection, refused, a time-out). Blocks: call
// it from a background thread. Thread-safe.
long healthStatus(const std::string& url);

}  // namespace corvane
