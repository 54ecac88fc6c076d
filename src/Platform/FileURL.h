#pragma once

#include <filesystem>
#include <string>

namespace corvane {

// The file URL of an absolute path, "file://" and the path with every byte outside the
// unreserved characters and "/" percent-encoded ("/tmp/a b" gives "file:///tmp/a%20b"); UTF-8
// names are encoded byte by byte. Pure; thread-safe.
std::string fileURL(const std::filesystem::path& path);

}  // namespace corvane
