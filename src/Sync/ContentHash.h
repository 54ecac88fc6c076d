#pragma once

#include <filesystem>
#include <string>

#include "Platform/Sha256.h"

namespace corvane {

// The content hash of a file, read in 256 KiB pieces so memory does not grow with the file.
// Throws FileError when the file cannot be opened or read.
std::string hashFile(const std::filesystem::path& path);

}  // namespace corvane
