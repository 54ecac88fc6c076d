#pragma once

#include <map>
#include <string>
#include <vector>

namespace corvane::test {

// One HTTP answer. status is 0 when no complete answer arrived (transportError says why);
// header names are lower-case.
struct HttpResponse {
    long status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
    std::string transportError;
};

// One plain libcurl request, independent of the client's APIClient. Headers as "Name: value".
// Thread-safe; blocks until the answer is complete (30 s at most).
HttpResponse httpRequest(const std::string& method, const std::string& url,
                         const std::string& body = {},
                         const std::vector<std::string>& headers = {});

}  // namespace corvane::test
