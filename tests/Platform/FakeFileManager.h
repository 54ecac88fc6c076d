#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/FakeBusService.h"

namespace corvane::test {

// A file manager of our own on a test's bus: owns org.freedesktop.FileManager1 and records every
// ShowItems call, answering it with success or, when told to refuse, with an error. Serves on a
// thread of its own. Thread-safe.
class FakeFileManager {
public:
    struct ShowItemsCall {
        std::vector<std::string> uris;
        std::string startupId;
    };

    // Connects to `address` and takes the name before it returns; throws when it cannot.
    explicit FakeFileManager(const std::string& address, bool refuse = false);
    ~FakeFileManager();
    FakeFileManager(const FakeFileManager&) = delete;
    FakeFileManager& operator=(const FakeFileManager&) = delete;

    std::vector<ShowItemsCall> calls() const;
    // Waits until at least `count` calls came; false when `timeout` passed first.
    bool waitForCalls(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // What the bus handler records (the service's own thread).
    bool refuses() const { return m_refuse; }
    void record(ShowItemsCall call);

private:
    const bool m_refuse;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<ShowItemsCall> m_calls;
    std::unique_ptr<FakeBusService> m_service;  // last: stops serving first
};

}  // namespace corvane::test
