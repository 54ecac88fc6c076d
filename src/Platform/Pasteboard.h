#pragma once

#include <string>

namespace corvane {

// The desktop's clipboard for plain text. Implementations say which threads may call them.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    virtual void clearContents() = 0;
    virtual void setString(const std::string& text) = 0;
};

}  // namespace corvane
