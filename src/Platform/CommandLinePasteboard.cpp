#include "Platform/CommandLinePasteboard.h"

#include <cstdlib>
#include <utility>

#include "Platform/DetachedProcess.h"

namespace corvane {

std::vector<CommandLinePasteboard::Tool> CommandLinePasteboard::defaultTools()
{
    return {
        {"WAYLAND_DISPLAY", {"wl-copy"}},
        {"DISPLAY", {"xclip", "-selection", "clipboard"}},
        {"DISPLAY", {"xsel", "--clipboard", "--input"}},
    };
}

CommandLinePasteboard::CommandLinePasteboard(std::vector<Tool> tools) : m_tools(std::move(tools)) {}

void CommandLinePasteboard::clearContents() {}

void CommandLinePasteboard::setString(const std::string& text)
{
    for (const auto& tool : m_tools) {
        const char* display = std::getenv(tool.displayVariable.c_str());
        if (!display || !*display || tool.arguments.empty() ||
            !DetachedProcess::findExecutable(tool.arguments.front())) {
            continue;
        }
        DetachedProcess::launch(tool.arguments, text);
        return;
    }
}

}  // namespace corvane
