#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace corvane::test {

// Sets an environment variable (or, for nothing, unsets it) for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_saved = old;
        }
        set(value);
    }
    ~ScopedEnv() { set(m_saved); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<std::string>& value) const
    {
        if (value) {
            setenv(m_name, value->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

    const char* m_name;
    std::optional<std::string> m_saved;
};

}  // namespace corvane::test
