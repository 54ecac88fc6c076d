#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace corvane::server {

// Incremental SHA-256 (OpenSSL EVP). One thread at a time.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const char* data, std::size_t size);
    // 64 lower-case hex digits; the object is spent afterwards.
    std::string finishHex();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

}  // namespace corvane::server
