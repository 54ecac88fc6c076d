#pragma once

#include <functional>
#include <memory>
#include <string>

namespace corvane {

// The system log (syslog), for the few failures that bypass the log file. Entries go out under
// the ident "com.corvane.app" with the category in front of the message: "Storage: ...".
// Thread-safe.
class SystemLog {
public:
    static constexpr const char* kIdent = "com.corvane.app";

    explicit SystemLog(std::string category);

    const std::string& category() const { return m_category; }
    void error(const std::string& message) const;

    // While one lives, entries go to `sink` instead of syslog (tests read what would be
    // logged). One at a time.
    class Capture {
    public:
        using Sink = std::function<void(const std::string& category, const std::string& message)>;

        explicit Capture(Sink sink);
        ~Capture();
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;
    };

private:
    const std::string m_category;
};

}  // namespace corvane
