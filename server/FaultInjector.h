#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane::server {

// A fault set up by a test through POST /__test/faults (the forms: TestApi.h).
struct Fault {
    std::string pathPrefix;
    std::optional<std::string> method;  // any method when absent
    int count = 1;                      // matching requests it still hits
    // A canned answer instead of the route's.
    std::optional<int> status;
    std::optional<std::string> body;  // decoded bytes
    std::optional<std::string> contentType;
    std::chrono::milliseconds delay{0};
    bool cut = false;
    // Changes to the route's own answer (FaultAnswer).
    std::optional<nlohmann::json> patch;  // RFC 6902 operations
    bool malformedJson = false;
    bool corruptContent = false;
    // A text message for every open push socket of the requesting account.
    std::shared_ptr<const std::string> push;

    bool changesAnswer() const { return patch || malformedJson || corruptContent; }
};

// The faults of the test routes, applied before authentication and routing; the oldest matching
// fault hits first. Thread-safe.
class FaultInjector {
public:
    void add(Fault fault);
    void clear();
    // The fault hitting a request with this path (target without query) and method, counted.
    std::optional<Fault> take(const std::string& path, const std::string& method);

private:
    std::mutex m_mutex;
    std::vector<Fault> m_faults;  // guarded by m_mutex
};

}  // namespace corvane::server
