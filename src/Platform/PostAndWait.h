#pragma once

#include <exception>
#include <functional>
#include <future>

namespace corvane {

// Hands `work` to `post`, which runs it on another thread, and waits until it has run; an
// exception that `work` throws is rethrown here. The caller must not be the thread that runs it.
template <typename Post>
void postAndWait(Post&& post, const std::function<void()>& work)
{
    std::promise<void> done;
    post([&] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

}  // namespace corvane
