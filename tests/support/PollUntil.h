#pragma once

#include <chrono>
#include <functional>

namespace corvane::test {

// Asks `done` on this thread every millisecond until it holds or `timeout` has passed; whether
// it held in the end. For work that runs on other threads (no run loop to drive).
bool pollUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace corvane::test
