#pragma once

#include <string>

namespace corvane {

// Hands URLs to the desktop, which opens them with the user's preferred application.
// Implementations say which threads may call them.
class Workspace {
public:
    virtual ~Workspace() = default;

    // True when the request was handed on; whether an application opened it is not known.
    virtual bool openURL(const std::string& url) = 0;
};

}  // namespace corvane
