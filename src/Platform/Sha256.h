#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace corvane {

// Incremental SHA-256, written out as 64 lower-case hexadecimal digits: the content hash by which
// the server stores and serves files. One instance per thread.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    // Both throw Error when the library fails, and the constructor when SHA-256 is missing.
    void update(std::string_view bytes);
    // Finishes the hash; the instance must not be updated afterwards.
    std::string finish();

    static std::string of(std::string_view bytes);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

}  // namespace corvane
