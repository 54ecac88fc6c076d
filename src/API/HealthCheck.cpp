#include "API/HealthCheck.h"

#include "API/CurlTransport.h"
#include "API/URLEncoding.h"

namespace corvane {

std::optional<std::string> healthURL(const std::string& serverURL)
{
    const bool web = serverURL.starts_with("http://") || serverURL.starts_with("https://");
    std::string url = serverURL + "/health";
    // The address itself must name a host: "/health" must not become one.
    if (!web || !isValidRequestURL(serverURL) || !isValidRequestURL(url)) {
        return std::nullopt;
    }
    return url;
}

long healthStatus(const std::string& url)
{
    CurlTransport transport;
    HttpRequest request;
    request.url = url;
    request.receive = [](long, std::string_view) {};
    return transport.perform(request);
}

}  // namespace corvane
