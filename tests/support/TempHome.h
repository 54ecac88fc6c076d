#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace corvane::test {

// A temporary folder that is removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Points HOME and the XDG folders at a fresh temporary folder for the lifetime of the object
// and restores the previous environment afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return m_dir.path(); }

private:
    TempDir m_dir;
    std::map<std::string, std::optional<std::string>> m_saved;
};

}  // namespace corvane::test
