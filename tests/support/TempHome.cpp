#include "support/TempHome.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace corvane::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

TempHome::TempHome()
{
    const std::map<std::string, std::string> variables{
        {"HOME", ""},
        {"XDG_CONFIG_HOME", ".config"},
        {"XDG_DATA_HOME", ".local/share"},
        {"XDG_STATE_HOME", ".local/state"},
        {"XDG_CACHE_HOME", ".cache"},
    };
    for (const auto& [name, relative] : variables) {
        const char* old = std::getenv(name.c_str());
        m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        const std::filesystem::path value = relative.empty() ? path() : path() / relative;
        setenv(name.c_str(), value.c_str(), 1);
    }
}

TempHome::~TempHome()
{
    for (const auto& [name, value] : m_saved) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}

}  // namespace corvane::test
