#pragma once

#include <string>
#include <vector>

#include "Platform/Pasteboard.h"

namespace corvane::test {

// Records every call as "clear" or "set <text>".
class FakePasteboard final : public Pasteboard {
public:
    void clearContents() override { calls.push_back("clear"); }
    void setString(const std::string& text) override { calls.push_back("set " + text); }

    std::vector<std::string> calls;
};

}  // namespace corvane::test
