#pragma once

#include <filesystem>
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

    void update(std::string_view bytes);
    // Finishes the hash; the instance must not be updated afterwards.
    std::string finish();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// The content hash of a file, read in 256 KiB pieces so memory does not grow with the file.
// Throws FileError when the file cannot be opened or read.
std::string hashFile(const std::filesystem::path& path);

}  // namespace corvane
