#pragma once

#include <functional>

#include "Platform/Clock.h"

namespace corvane {

// Runs `operation` up to `maxAttempts` times, waiting 2^attempt seconds on `clock` after each
// failed attempt but the last; rethrows the last attempt's error. Blocks the calling background
// thread.
void withRetry(int maxAttempts, const std::function<void()>& operation, Clock& clock);

}  // namespace corvane
