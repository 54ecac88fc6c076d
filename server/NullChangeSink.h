#pragma once

#include "ChangeSink.h"

namespace corvane::server {

// Drops every change: the sink in place while no push hub is plugged in. Thread-safe.
class NullChangeSink final : public ChangeSink {
public:
    void fileChanged(const std::string&, const FileChangedNotice&) override {}
};

}  // namespace corvane::server
