#pragma once

#include <chrono>
#include <thread>

#include <glib.h>

namespace corvane::test {

// Iterates `context` (null: the default main context) without blocking until `done` holds or a
// generous deadline passes; false on the deadline. The thread the context belongs to.
template <typename Predicate>
bool iterateUntil(GMainContext* context, Predicate done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        g_main_context_iteration(context, FALSE);
        // Work may come from other threads: give them the processor between looks.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace corvane::test
