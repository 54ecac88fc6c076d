#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "App/AppServices.h"
#include "App/AppState.h"
#include "App/QtMainQueue.h"
#include "App/ViewFakes.h"
#include "FinderSync/FakeWorkspace.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Models/KeychainHelper.h"
#include "Platform/LoginItem.h"
#include "Platform/NotificationPoster.h"
#include "Platform/UserDefaults.h"
#include "Platform/XdgAutostartLoginItem.h"
#include "Sync/SyncEngine.h"
#include "Sync/SyncEngineFactory.h"
#include "support/TempHome.h"

namespace corvane::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::optional<std::string> fileBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// Records what AppState asks of the notification service. Thread-safe.
class RecordingPoster final : public NotificationPoster {
public:
    struct Posted {
        std::string title;
        std::string body;
    };

    void requestPermission() override
    {
        std::lock_guard lock(m_mutex);
        ++m_permissionRequests;
    }

    void post(const std::string& title, const std::string& body) override
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back({title, body});
    }

    int permissionRequests() const
    {
        std::lock_guard lock(m_mutex);
        return m_permissionRequests;
    }

    std::vector<Posted> posted() const
    {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }

private:
    mutable std::mutex m_mutex;
    int m_permissionRequests = 0;
    std::vector<Posted> m_posted;
};

// The real autostart entry of the temporary home, with its calls counted and a failure to
// play on request. Main thread only.
class CountingLoginItem final : public LoginItem {
public:
    bool isRegistered() const override { return m_item.isRegistered(); }
    void registerItem() override
    {
        ++registrations;
        m_item.registerItem();
    }
    void unregisterItem() override
    {
        ++unregistrations;
        m_item.unregisterItem();
    }

    int registrations = 0;
    int unregistrations = 0;

private:
    XdgAutostartLoginItem m_item{"/usr/bin/corvane"};
};

// What the engine factory was asked to build: each engine with its two reports, so that a test
// can play a report that arrives late. Main thread only.
struct BuiltEngine {
    std::shared_ptr<SyncEngine> engine;
    SyncEngineParts parts;
};

// A temporary home with the shared settings following it, the main queue on Qt's loop, and
// AppState's seams: recorded notifications, a counted login item, engines built with short
// timings and remembered, a recording workspace, a scripted folder chooser, a wall clock the
// test sets.
class AppFixture {
public:
    AppFixture() { UserDefaults::resetShared(); }

    ~AppFixture()
    {
        state.reset();
        for (const auto& built : engines) {
            if (built.engine->isRunning()) {
                built.engine->stop();
            }
        }
        // Work of the engines reports to this fixture's main queue: wait until it has ended.
        QtMainQueue::runUntil(
            [&] {
                return std::none_of(engines.begin(), engines.end(), [](const auto& built) {
                    return built.engine->hasBackgroundWork();
                });
            },
            30s);
        engines.clear();
        UserDefaults::resetShared();
    }

    AppServices services()
    {
        SyncEngineOptions options;
        options.eventLatency = 20ms;
        options.debounce = 50ms;
        auto build = makeSyncEngineFactory(options);
        return AppServices{[this, build](SyncEngineParts parts) {
                               auto engine = build(parts);
                               engines.push_back({engine, parts});
                               return engine;
                           },
                           notifications,
                           loginItem,
                           workspace,
                           folderChooser,
                           [this] { return now; }};
    }

    AppState& makeState()
    {
        state = std::make_unique<AppState>(services());
        return *state;
    }

    fs::path standardFile() const { return UserDefaults::standard()->file(); }
    fs::path groupFile() const
    {
        return UserDefaults::suite(SyncStateProvider::kSuiteName)->file();
    }

    // Stores settings as a previous run would have left them.
    void storeSetting(const std::string& key, const std::string& value)
    {
        UserDefaults::standard()->setString(key, value);
        UserDefaults::standard()->flush();
    }
    void storeSetupDone()
    {
        UserDefaults::standard()->setBool("setupDone", true);
        UserDefaults::standard()->flush();
    }

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
    {
        return QtMainQueue::runUntil(done, timeout);
    }

    TempHome home;
    QtMainQueue mainQueue;
    std::shared_ptr<RecordingPoster> poster = std::make_shared<RecordingPoster>();
    std::shared_ptr<NotificationPoster> notifications = poster;  // what the state is given
    std::shared_ptr<CountingLoginItem> loginItem = std::make_shared<CountingLoginItem>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<RecordingFolderChooser> folderChooser =
        std::make_shared<RecordingFolderChooser>();
    std::chrono::system_clock::time_point now =
        std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000));
    std::vector<BuiltEngine> engines;
    std::unique_ptr<AppState> state;
};

}  // namespace corvane::test
