#pragma once

#include <string>
#include <vector>

#include "Platform/Pasteboard.h"

namespace corvane {

// The desktop clipboard through a clipboard tool that reads the text on its standard input and
// keeps serving it after we hand it over: wl-copy under Wayland, else xclip or xsel under X11.
// The first tool whose display variable is set and which is installed is used; without one,
// nothing is copied. Thread-safe.
class CommandLinePasteboard final : public Pasteboard {
public:
    struct Tool {
        std::string displayVariable;  // the environment variable that must be set and non-empty
        std::vector<std::string> arguments;
    };

    // wl-copy (WAYLAND_DISPLAY), xclip, then xsel (DISPLAY).
    static std::vector<Tool> defaultTools();

    explicit CommandLinePasteboard(std::vector<Tool> tools = defaultTools());

    // Does nothing: every setString() replaces the whole clipboard, and a separate clearing
    // process could reach the clipboard after the text does.
    void clearContents() override;
    void setString(const std::string& text) override;

private:
    const std::vector<Tool> m_tools;
};

}  // namespace corvane
