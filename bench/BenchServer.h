#pragma once

#include <filesystem>
#include <memory>

#include "BenchSupport.h"
#include "support/ServerProcess.h"

namespace corvane::bench {

// corvane-server for a benchmark: test faults off, relative paths. Its data go to a scratch
// folder made under `dataParent` (a tmpfs such as /dev/shm takes the server's fsyncs out of the
// figures), or, with `dataParent` empty, to a temporary folder of the server's own. One thread.
class BenchServer {
public:
    explicit BenchServer(const std::filesystem::path& dataParent)
        : m_dataDir(dataParent.empty() ? nullptr : std::make_unique<ScratchDir>(dataParent)),
          m_process(test::ServerOptions{false, "relative", m_dataDir ? m_dataDir->path() : ""})
    {
    }

    test::ServerProcess& process() { return m_process; }

private:
    // Declared before the server, so removed after it has stopped.
    const std::unique_ptr<ScratchDir> m_dataDir;
    test::ServerProcess m_process;
};

}  // namespace corvane::bench
