#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace corvane::server {

// A fault set up by a test through POST /__test/faults.
struct Fault {
    std::string pathPrefix;
    std::optional<std::string> method;  // any method when absent
    int count = 1;                      // matching requests it still hits
    std::optional<int> status;
    std::optional<std::string> body;  // decoded bytes
    std::optional<std::string> contentType;
    std::chrono::milliseconds delay{0};
    bool cut = false;
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
