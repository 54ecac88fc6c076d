#pragma once

#include <filesystem>
#include <string_view>

namespace corvane {

// Replaces a file's contents all at once: the bytes go to a hidden temporary file in the same
// folder, are flushed to disk, and the temporary file is renamed over the target. A reader (or a
// crash) sees either the old file or the new one, never a mix. Missing parent folders are
// created. Thread-safe.
class AtomicFile {
public:
    // Throws FileError naming the step that failed; the temporary file is removed.
    static void write(const std::filesystem::path& target, std::string_view bytes);
    // As write(), but reports failure as false.
    static bool tryWrite(const std::filesystem::path& target, std::string_view bytes) noexcept;
    // Removes the temporary files that writes of `target` left when their process was killed
    // before the rename. Only while no write of `target` is under way.
    static void removeLeftovers(const std::filesystem::path& target) noexcept;
};

}  // namespace corvane
