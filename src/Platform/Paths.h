#pragma once

#include <filesystem>

namespace corvane {

// The user's folders, read afresh from the environment on every call so that tests can point
// HOME and the XDG variables at a temporary folder. Thread-safe.
class Paths {
public:
    static std::filesystem::path home();
    // XDG data home + "/Corvane": the application-support folder.
    static std::filesystem::path applicationSupport();
    // XDG state home + "/Corvane": the log folder.
    static std::filesystem::path logs();
    // XDG config home + "/Corvane": where the settings suites live.
    static std::filesystem::path config();
    // The XDG desktop folder (user-dirs.dirs), else ~/Desktop.
    static std::filesystem::path desktop();
    // $TMPDIR, else /tmp.
    static std::filesystem::path temporary();

    // `folder` made absolute (against the current folder) and lexically normal, without a
    // trailing "/": one spelling per folder, so that paths built on it compare as text.
    static std::filesystem::path normalized(const std::filesystem::path& folder);
};

}  // namespace corvane
