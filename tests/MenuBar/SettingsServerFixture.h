#pragma once

#include <cstdio>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include "API/APIClient.h"
#include "MenuBar/SettingsTestSupport.h"
#include "support/ServerProcess.h"

namespace corvane::test {

// What the log echoes to standard output while it lives: every entry of the shared logger,
// whatever folder it writes to.
class LogCapture {
public:
    LogCapture() { testing::internal::CaptureStdout(); }
    ~LogCapture()
    {
        if (!m_ended) {
            testing::internal::GetCapturedStdout();
        }
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Ends the capture and gives what was written.
    std::string lines()
    {
        std::fflush(stdout);
        m_ended = true;
        return testing::internal::GetCapturedStdout();
    }

private:
    bool m_ended = false;
};

// The settings window over a signed-in account of the stand-in server.
class SettingsServerFixture : public SettingsFixture {
public:
    static constexpr const char* kEmail = "ada@example.com";

    SettingsServerFixture()
    {
        token = server.signIn(kEmail);
        storeSetupDone();
        storeSetting("serverURL", server.baseURL());
        storeSetting("syncDir", syncDir.string());
    }

    // Signed in with sync running, after its first cycle.
    AppState& signedInSyncing()
    {
        AppState& appState = makeState();
        appState.login(QString::fromStdString(token), kEmail);
        EXPECT_TRUE(runUntil([&] { return appState.syncStatus() == SyncStatus::idle; }, 30s))
            << appState.lastError().toStdString();
        return appState;
    }

    // Signed in with no engine: a pause before the sign-in keeps sync from starting.
    AppState& signedInPaused()
    {
        AppState& appState = makeState();
        appState.togglePause();
        appState.login(QString::fromStdString(token), kEmail);
        return appState;
    }

    // A client of the test's own for the account.
    APIClient& account()
    {
        if (!m_account) {
            m_account = std::make_unique<APIClient>(server.baseURL());
            m_account->setToken(token);
        }
        return *m_account;
    }

    ServerProcess server;
    std::string token;
    fs::path syncDir = home.path() / "Corvane";

private:
    std::unique_ptr<APIClient> m_account;
};

}  // namespace corvane::test
