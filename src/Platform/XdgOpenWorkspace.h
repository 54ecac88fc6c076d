#pragma once

#include <string>

#include "Platform/Workspace.h"

namespace corvane {

// Opens URLs with xdg-open (or another opener given as a program name or path), started
// directly with the URL as its one argument, never through a shell. Thread-safe.
class XdgOpenWorkspace final : public Workspace {
public:
    explicit XdgOpenWorkspace(std::string opener = "xdg-open");

    // False for an empty URL, one that an opener could read as an option ("-" first), or when
    // the opener cannot be started.
    bool openURL(const std::string& url) override;

private:
    const std::string m_opener;
};

}  // namespace corvane
