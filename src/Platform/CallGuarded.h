#pragma once

#include <cstdio>
#include <exception>
#include <string_view>
#include <type_traits>
#include <utility>

namespace corvane {

// Runs `call` at a boundary that no exception may cross: a thread's or queue's last frame, or a
// function that C code (GLib, sd-bus, Nautilus) calls. One that escapes is reported on standard
// error as "<what> failed: <message>" and a value-initialised result (null, 0) is returned
// instead. Any thread.
template <typename Call>
std::invoke_result_t<Call> callGuarded(std::string_view what, Call&& call) noexcept
{
    const auto length = static_cast<int>(what.size());
    try {
        return std::forward<Call>(call)();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%.*s failed: %s\n", length, what.data(), error.what());
    } catch (...) {
        std::fprintf(stderr, "%.*s failed\n", length, what.data());
    }
    if constexpr (!std::is_void_v<std::invoke_result_t<Call>>) {
        return {};
    }
}

}  // namespace corvane
