#include "Sync/Retry.h"

#include <chrono>
#include <cmath>
#include <exception>

namespace corvane {

void withRetry(int maxAttempts, const std::function<void()>& operation, Clock& clock)
{
    std::exception_ptr lastError;
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        try {
            operation();
            return;
        } catch (...) {
            lastError = std::current_exception();
        }
        if (attempt < maxAttempts - 1) {
            const auto seconds = static_cast<unsigned>(std::pow(2.0, attempt));
            clock.sleepFor(std::chrono::seconds(seconds));
        }
    }
    if (lastError) {
        std::rethrow_exception(lastError);
    }
}

}  // namespace corvane
