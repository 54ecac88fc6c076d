#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvane::test {

// The bytes of `file`; empty when it cannot be read.
std::string fileContents(const std::filesystem::path& file);

// Replaces the bytes of `file` with `contents`, creating its folders first; a write that fails
// fails the test.
void writeFileContents(const std::filesystem::path& file, std::string_view contents);

}  // namespace corvane::test
