#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <QApplication>
#include <QString>
#include <QThread>

#include <gtest/gtest.h>

#include "App/AppFixture.h"
#include "App/Scenes.h"
#include "App/ViewPng.h"
#include "Logging/FileLogger.h"
#include "MenuBar/LogExport.h"
#include "MenuBar/MenuBarView.h"
#include "Platform/Workspace.h"
#include "Sync/ActivityManager.h"

// Failures print texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace corvane::test {

inline bool onMainThread()
{
    return QThread::currentThread() == QApplication::instance()->thread();
}

// Records what the panel asks of the desktop, and on which thread. Thread-safe.
class RecordingWorkspace final : public Workspace {
public:
    bool openURL(const std::string& url) override
    {
        std::lock_guard lock(m_mutex);
        m_opened.push_back(url);
        return true;
    }

    bool selectFile(const std::filesystem::path& file) override
    {
        std::lock_guard lock(m_mutex);
        m_selected.push_back(file);
        m_selectedOnMainThread = m_selectedOnMainThread && onMainThread();
        return true;
    }

    std::vector<std::string> opened() const
    {
        std::lock_guard lock(m_mutex);
        return m_opened;
    }
    std::vector<std::filesystem::path> selected() const
    {
        std::lock_guard lock(m_mutex);
        return m_selected;
    }
    bool selectedOnMainThread() const
    {
        std::lock_guard lock(m_mutex);
        return m_selectedOnMainThread;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_opened;
    std::vector<std::filesystem::path> m_selected;
    bool m_selectedOnMainThread = true;
};

// Records the scenes' calls in order, with whether the panel was open at each, and whether sync
// had stopped when the quit came. Closes the panel as the application does. Main thread only.
class RecordingScenes final : public Scenes {
public:
    struct Call {
        std::string name;
        bool panelOpen = false;
        bool syncRunning = false;
    };

    void showSetupWindow() override { record("showSetupWindow"); }
    void showSettingsWindow() override { record("showSettingsWindow"); }
    void closePanel() override
    {
        record("closePanel");
        if (panel) {
            panel->close();
        }
    }
    void quit() override { record("quit"); }

    std::vector<std::string> names() const
    {
        std::vector<std::string> names;
        for (const Call& call : calls) {
            names.push_back(call.name);
        }
        return names;
    }

    QWidget* panel = nullptr;
    const AppState* state = nullptr;
    std::vector<Call> calls;

private:
    void record(std::string name)
    {
        calls.push_back({std::move(name), panel && panel->isVisible(),
                         state && state->syncEngine() != nullptr});
    }
};

// The log export's seam: answers with `archive` (nothing: a failed export), or throws, or
// waits until released; counts its calls and the threads they ran on. Thread-safe.
class RecordingLogExport {
public:
    std::optional<std::filesystem::path> archive;
    bool throws = false;

    LogExport seam(FileLogger& logger)
    {
        return LogExport{[this](const std::filesystem::path& syncDir) { return run(syncDir); },
                         &logger};
    }

    void holdUntilReleased()
    {
        std::lock_guard lock(m_mutex);
        m_held = true;
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_changed.notify_all();
    }
    // Waits until an export is under way (and held, when told to hold).
    bool waitForStart(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_started > 0; });
    }

    int calls() const { return m_calls.load(); }
    bool ranOffTheMainThread() const { return m_offMainThread.load(); }
    std::filesystem::path lastSyncDir() const
    {
        std::lock_guard lock(m_mutex);
        return m_syncDir;
    }

private:
    std::optional<std::filesystem::path> run(const std::filesystem::path& syncDir)
    {
        ++m_calls;
        m_offMainThread = !onMainThread();
        std::unique_lock lock(m_mutex);
        m_syncDir = syncDir;
        ++m_started;
        m_changed.notify_all();
        // Not for ever: an export held on the main thread would hold the test with it.
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return !m_held; });
        if (throws) {
            throw std::runtime_error("disk full");
        }
        return archive;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    int m_started = 0;
    std::filesystem::path m_syncDir;
    std::atomic<int> m_calls{0};
    std::atomic<bool> m_offMainThread{false};
};

// AppState with a recording workspace, the panel over it with recording scenes, a log export
// seam and a logger of its own under the temporary home (its file holds what the panel logs),
// and the wall clock at the real time, so that the feed's own stamps are "now".
class PanelFixture : public AppFixture {
public:
    static constexpr const char* kUnreachableServer = "http://127.0.0.1:9";

    PanelFixture()
    {
        now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
        storeSetupDone();
        storeSetting("serverURL", kUnreachableServer);
    }

    ~PanelFixture()
    {
        logExport.release();
        panel.reset();
    }

    AppState& makePanelState()
    {
        AppServices withWorkspace = services();
        withWorkspace.workspace = workspace;
        state = std::make_unique<AppState>(std::move(withWorkspace));
        scenes.state = state.get();
        return *state;
    }

    // The panel over a new state, opened at no icon geometry.
    MenuBarView& makePanel(std::optional<LogExport> seam = std::nullopt)
    {
        if (!state) {
            makePanelState();
        }
        panel = std::make_unique<MenuBarView>(*state, scenes,
                                              seam ? std::move(*seam) : logExport.seam(logger));
        scenes.panel = panel.get();
        panel->showAt(QRect());
        return *panel;
    }

    // Signs in; the engine's attempt fails (nobody serves the address), then it reports `status`.
    void signIn(SyncStatus status = SyncStatus::idle)
    {
        state->login("token", "ada@example.com");
        ASSERT_TRUE(runUntil([&] { return state->syncStatus() == SyncStatus::error; }, 10s));
        engines.back().parts.onStatusChange(status);
        ASSERT_TRUE(runUntil([&] { return state->syncStatus() == status; }, 5s));
    }

    ActivityManager& feed() { return *state->activityManager(); }

    // Serves the event loop until the panel has followed the feed (the summary's pause).
    void settle()
    {
        runUntil([] { return false; }, 2 * AppState::kSummaryInterval + 50ms);
    }

    // A picture of the panel once its layout has followed the last changes.
    void savePanelPng(const QString& name)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        saveViewPng(*panel, name);
    }

    // What the panel's logger has written so far.
    std::string loggedText()
    {
        logger.flush();
        return fileBytes(logDir / FileLogger::kFileName).value_or("");
    }

    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    RecordingScenes scenes;
    RecordingLogExport logExport;
    const fs::path logDir = home.path() / "logs";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> echo{std::fopen("/dev/null", "w"),
                                                         &std::fclose};
    std::atomic<long long> loggerSeconds{0};
    FileLogger logger{FileLogger::Options{
        logDir, [this] { return now + std::chrono::seconds(loggerSeconds.load()); },
        FileLogger::kMaxSize, echo.get()}};
    std::unique_ptr<MenuBarView> panel;
};

}  // namespace corvane::test
