#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "API/APIError.h"
#include "API/WebSocketEvent.h"
#include "support/FileContents.h"
#include "support/UploadSupport.h"

namespace corvane::test {

inline std::string randomBytes(std::size_t count, std::uint64_t seed)
{
    std::mt19937_64 engine(seed);
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; i += 8) {
        const std::uint64_t word = engine();
        for (std::size_t k = 0; k < 8 && i + k < count; ++k) {
            bytes[i + k] = static_cast<char>(word >> (8 * k));
        }
    }
    return bytes;
}

// Runs `operation` and checks that it throws the APIError of that kind and text.
inline void expectAPIError(const std::function<void()>& operation, APIError::Kind kind,
                           const std::string& description)
{
    try {
        operation();
        ADD_FAILURE() << "no error; expected " << kind;
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), kind);
        EXPECT_EQ(error.localizedDescription(), description);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected error: " << error.what();
    }
}

// How many of `events` are of the kind `Kind` (WebSocketText, WebSocketError, ...).
template <typename Kind>
int countOf(const std::vector<WebSocketEvent>& events)
{
    return static_cast<int>(std::count_if(events.begin(), events.end(), [](const auto& event) {
        return std::holds_alternative<Kind>(event);
    }));
}

}  // namespace corvane::test
