#pragma once

#include <cstddef>
#include <string>

namespace corvane::server {

// Cryptographically strong random texts (OpenSSL's generator). Thread-safe, static only.
class Random {
public:
    static std::string hex(std::size_t bytes);     // 2 lower-case hex digits per byte
    static std::string digits(std::size_t count);  // uniformly distributed decimal digits
    static std::string uuid();                     // version 4, lower-case, 8-4-4-4-12
};

}  // namespace corvane::server
