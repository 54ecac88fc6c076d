#pragma once

#include <cstdint>

#include "Response.h"

namespace corvane::server {

struct Fault;

// Turns the answer a route gave into the bad answer a fault asks for (TestApi.h lists the
// forms): a JSON patch, a body cut in half, content whose bytes no longer match their hash.
// Static only; any thread.
class FaultAnswer {
public:
    // The largest stored content that corrupt_content reads into memory to change it.
    static constexpr std::uintmax_t kMaxCorruptedBytes = 64 * 1024 * 1024;

    // Applies the fault's answer changes to a 2xx answer, in the order patch, malformed_json,
    // corrupt_content; other answers pass unchanged. A change that cannot be made turns the
    // answer into a 500 that says why, so that the test sees its mistake. Never throws.
    static void apply(const Fault& fault, Response& response) noexcept;

private:
    static void patch(const Fault& fault, Response& response);
    static void corrupt(Response& response);
};

}  // namespace corvane::server
