#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "API/APIClient.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/MainQueue.h"
#include "Platform/Sha256.h"
#include "Platform/UserDefaults.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/FolderResolver.h"
#include "Sync/LocalScanner.h"
#include "Sync/LocalStateStore.h"
#include "Sync/RecentDeletions.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/SyncContext.h"
#include "Sync/SyncEngine.h"
#include "Sync/SyncEngineFactory.h"
#include "Sync/Transfers.h"
#include "support/ServerProcess.h"
#include "support/TempHome.h"

// Engine tests in the style of a two-device sync: a real sync folder, the real server on a free
// port and a second client standing in for another device; edit one or both sides, sync,
// compare.
namespace corvane::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void writeFile(const fs::path& path, const std::string& content)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string sha256(const std::string& content)
{
    return Sha256::of(content);
}

// Whether a path relative to a sync folder names a hidden file or lies in a hidden folder.
inline bool isHiddenRelative(const std::string& relative)
{
    return relative.starts_with(".") || relative.find("/.") != std::string::npos;
}

// Sync-relative path -> content of every visible regular file below `dir`. An engine may move
// things while this walks: the walk then ends early rather than throwing.
inline std::map<std::string, std::string> visibleFiles(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(dir, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string relative = it->path().lexically_relative(dir).string();
        std::error_code gone;  // a file removed meanwhile is left out
        if (isHiddenRelative(relative)) {
            if (it->is_directory(gone)) {
                it.disable_recursion_pending();
            }
            continue;
        }
        if (it->is_regular_file(gone)) {
            files["/" + relative] = readFile(it->path());
        }
    }
    return files;
}

// The fields of every line in `output` (captured standard output, where the log echoes) whose
// message is `message`: " path=/a.txt error=..." for "sync error".
inline std::vector<std::string> logFields(const std::string& output, const std::string& message)
{
    std::vector<std::string> found;
    std::istringstream lines(output);
    const std::string marker = "] " + message;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(marker);
        const std::size_t end = at + marker.size();
        if (at != std::string::npos && (end == line.size() || line[end] == ' ')) {
            found.push_back(line.substr(end));
        }
    }
    return found;
}

// What stands between a conflict copy's stem and its time stamp.
inline constexpr const char* kConflictMark = " (conflict - remote - ";

// The name a conflict copy of `path` begins with: "<folder>/<stem> (conflict - remote - ".
inline std::string conflictCopyPrefix(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string name = path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    return path.substr(0, slash + 1) + stem + kConflictMark;
}

// Another device on the same account: uploads and reads the server's files directly.
class OtherDevice {
public:
    // How often the device learns the account's folders for its writes.
    enum class Folders {
        everyCall,  // afresh for each write: sees folders that others made meanwhile
        kept,  // once, at the first write, then again only at refresh(): for many writes quickly
    };

    OtherDevice(const std::string& baseURL, const std::string& token,
                Folders folders = Folders::everyCall)
        : m_client(std::make_shared<APIClient>(baseURL)), m_keepFolders(folders == Folders::kept)
    {
        m_client->setToken(token);
    }

    // Learns the account's folders afresh for the writes that follow (Folders::kept): call
    // before a batch, after others made folders.
    void refresh() { m_folders = learnFolders(); }

    void upload(const std::string& path, const std::string& content)
    {
        const auto resolver = folders();
        const std::string folderId = resolver->resolve(path);
        // The version it replaces: an older base would make the server keep the old content as
        // a conflict copy. The path's own folder holds it, so that one tree is enough.
        std::int64_t version = 0;
        for (const FileInfo& file : resolver->normalizeFilePaths(
                 LocalScanner::collectFiles(m_client->getFolderTree(folderId)))) {
            if (file.path == path) {
                version = file.version;
            }
        }
        const auto answer = m_client->uploadInit(
            UploadInitRequest{resolver->stripFolderPrefix(path, folderId), folderId,
                              sha256(content), static_cast<std::int64_t>(content.size()), version});
        if (answer.uploadId) {
            m_client->uploadChunk(*answer.uploadId, content);
        }
    }

    void remove(const std::string& path)
    {
        const auto resolver = folders();
        const std::string folderId = resolver->resolve(path);
        m_client->deleteFile(resolver->stripFolderPrefix(path, folderId), folderId);
    }

    // Every file of the account with its sync-relative path.
    std::vector<FileInfo> files()
    {
        FolderResolver resolver(m_client);
        std::vector<FileInfo> all;
        for (const std::string& id : resolver.load()) {
            auto tree = m_client->getFolderTree(id);
            auto collected = LocalScanner::collectFiles(tree);
            all.insert(all.end(), collected.begin(), collected.end());
        }
        return resolver.normalizeFilePaths(all);
    }

    // Sync-relative path -> content hash of every file on the server.
    std::map<std::string, std::string> hashes()
    {
        std::map<std::string, std::string> result;
        for (const FileInfo& file : files()) {
            result[file.path] = file.hash;
        }
        return result;
    }

    std::map<std::string, std::string> contents()
    {
        std::map<std::string, std::string> result;
        for (const auto& file : files()) {
            result[file.path] = m_client->download(file.hash);
        }
        return result;
    }

    APIClient& client() { return *m_client; }

private:
    std::shared_ptr<FolderResolver> learnFolders()
    {
        auto resolver = std::make_shared<FolderResolver>(m_client);
        resolver->load();
        return resolver;
    }

    // A write's own resolver unless the folders are kept, so that writes from several threads
    // share nothing.
    std::shared_ptr<FolderResolver> folders()
    {
        if (!m_keepFolders) {
            return learnFolders();
        }
        if (!m_folders) {
            refresh();
        }
        return m_folders;
    }

    std::shared_ptr<APIClient> m_client;
    const bool m_keepFolders;
    std::shared_ptr<FolderResolver> m_folders;  // the kept folders, once learnt
};

// A client that runs `whileDownloading` once a download's bytes are in, before the engine
// moves them into place: the moment a user's save would be overwritten.
class EditingClient : public APIClient {
public:
    using APIClient::APIClient;

    using APIClient::downloadToFile;
    std::uint64_t downloadToFile(const std::string& hash, const std::filesystem::path& destination,
                                 std::string& sha256) override
    {
        const auto received = APIClient::downloadToFile(hash, destination, sha256);
        std::function<void()> edit;
        {
            std::lock_guard lock(m_mutex);
            edit = std::exchange(whileDownloading, nullptr);
        }
        if (edit) {
            edit();
        }
        return received;
    }

    void setEdit(std::function<void()> edit)
    {
        std::lock_guard lock(m_mutex);
        whileDownloading = std::move(edit);
    }

private:
    std::mutex m_mutex;
    std::function<void()> whileDownloading;
};

class SyncEngineFixture {
public:
    explicit SyncEngineFixture(ServerOptions serverOptions = {},
                               SyncEngineOptions engineOptions = {})
        : server(std::move(serverOptions)), options(std::move(engineOptions))
    {
        // The shared settings suites follow the temporary home from here on.
        UserDefaults::resetShared();
        activity = std::make_shared<ActivityManager>();
        selective = std::make_shared<SelectiveSyncManager>();
        throttler = std::make_shared<BandwidthThrottler>();
        const std::string token = server.signIn("ada@example.com");
        client = std::make_shared<APIClient>(server.baseURL());
        client->setToken(token);
        other = std::make_unique<OtherDevice>(server.baseURL(), token);
        syncDir = home.path() / "Corvane";
    }

    ~SyncEngineFixture()
    {
        for (const auto& engine : engines) {
            if (engine->isRunning()) {
                engine->stop();
            }
        }
        // Background work holds its engine and reports to this fixture: wait until it is done.
        loop.runUntil(
            [&] {
                return std::all_of(engines.begin(), engines.end(),
                                   [](const auto& engine) { return engine.use_count() == 1; });
            },
            30s);
        // A use count is read without ordering: the reports' lock is what orders a task's last
        // report before the members it wrote go.
        {
            const std::lock_guard lock(mutex);
        }
        UserDefaults::resetShared();
    }

    // The two reports, collected in `statuses` and `errors`.
    SyncEngine::StatusCallback statusReport()
    {
        return [this](SyncStatus status) {
            std::lock_guard lock(mutex);
            statuses.push_back(status);
        };
    }

    SyncEngine::ErrorCallback errorReport()
    {
        return [this](const std::string& message) {
            std::lock_guard lock(mutex);
            errors.push_back(message);
        };
    }

    // The engine's pieces for one change handler, built as the engine builds them.
    SyncContext handlerContext(std::shared_ptr<FolderResolver> resolver,
                               std::shared_ptr<LocalStateStore> state)
    {
        const SyncPaths paths(syncDir);
        auto transfers =
            std::make_shared<Transfers>(client, resolver, activity, throttler, paths, state);
        return SyncContext{client,
                           paths,
                           std::move(resolver),
                           std::move(state),
                           std::move(transfers),
                           selective,
                           activity,
                           Clock::system(),
                           std::make_shared<RecentDeletions>(Clock::system()),
                           statusReport(),
                           errorReport(),
                           {}};
    }

    std::shared_ptr<SyncEngine> makeEngine()
    {
        // Built as the application builds its engines.
        auto engine = makeSyncEngineFactory(options)(SyncEngineParts{
            client, syncDir, activity, selective, throttler, statusReport(), errorReport()});
        engines.push_back(engine);
        return engine;
    }

    // Starts a new engine and waits for the end of its start-up cycle.
    void runCycle()
    {
        {
            std::lock_guard lock(mutex);
            statuses.clear();
        }
        makeEngine()->start();
        ASSERT_TRUE(loop.runUntil(
            [&] {
                std::lock_guard lock(mutex);
                return !errors.empty() || std::find(statuses.begin(), statuses.end(),
                                                    SyncStatus::idle) != statuses.end();
            },
            30s));
        // The activity feed's entries, posted before the report, are in the queue by now.
        loop.runPending();
        engines.back()->stop();
        std::lock_guard lock(mutex);
        ASSERT_TRUE(errors.empty()) << errors.front();
    }

    // Starts a new engine that stays running, and waits until its watcher and its push channel
    // both work: a marker written locally reaches the server, one uploaded by the other device
    // reaches the folder.
    std::shared_ptr<SyncEngine> startLive()
    {
        auto engine = makeEngine();
        engine->start();
        // A marker uploaded while the cycle runs may reach the folder through the cycle itself
        // (or through the announcement held until its end), which proves nothing about the
        // live channel: the markers go up once the cycle is done.
        EXPECT_TRUE(waitUntil([&] {
            std::lock_guard lock(mutex);
            return std::count(statuses.begin(), statuses.end(), SyncStatus::idle) > 0;
        }));
        for (int round = 0; round < 50; ++round) {
            const std::string content = "marker " + std::to_string(round);
            other->upload(kMarker, content);
            if (waitUntil([&] { return readFile(local(kMarker)) == content; }, 300ms)) {
                break;
            }
        }
        EXPECT_TRUE(waitUntil([&] { return serverHas(kMarker, readFile(local(kMarker))); }));
        writeFile(local(kMarker), "local marker");
        EXPECT_TRUE(waitUntil([&] { return serverHas(kMarker, "local marker"); }));
        return engine;
    }

    // Runs the main queue until `done` holds, asking it every 20 ms (it may ask the server).
    // With a manual clock, each ask also moves the clock on by 100 ms.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            loop.runUntil([] { return false; }, 20ms);
            if (manualClock) {
                manualClock->advance(100ms);
            }
        }
        return true;
    }

    bool serverHas(const std::string& path, const std::string& content)
    {
        for (const auto& file : other->files()) {
            if (file.path == path) {
                return file.hash == sha256(content);
            }
        }
        return false;
    }

    // The server's file paths, for failure messages.
    std::string serverPaths()
    {
        std::string paths;
        for (const auto& file : other->files()) {
            paths += file.path + " ";
        }
        return paths;
    }

    bool serverLacks(const std::string& path)
    {
        const auto files = other->files();
        return std::none_of(files.begin(), files.end(),
                            [&](const FileInfo& file) { return file.path == path; });
    }

    std::vector<std::string> errorsSoFar()
    {
        std::lock_guard lock(mutex);
        return errors;
    }

    // Short delays for tests that watch the folder; the product waits 0.5 s twice.
    static SyncEngineOptions quick(std::shared_ptr<Clock> clock = Clock::system())
    {
        SyncEngineOptions options;
        options.clock = std::move(clock);
        options.eventLatency = 20ms;
        options.debounce = 50ms;
        options.stateSaveInterval = 20ms;
        return options;
    }

    static constexpr const char* kMarker = "/marker.txt";
    std::shared_ptr<ManualClock> manualClock;  // set by tests that drive the engine's clock

    fs::path local(const std::string& path) const { return syncDir / path.substr(1); }

    std::map<std::string, std::string> localContents() const { return visibleFiles(syncDir); }

    std::optional<FileState> storedState(const std::string& path) const
    {
        LocalStateStore store(syncDir);
        store.load();
        return store.get(path);
    }

    std::vector<std::string> conflictCopies(const std::string& folder) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(local(folder))) {
            const std::string name = entry.path().filename().string();
            if (name.find(kConflictMark) != std::string::npos) {
                names.push_back(name);
            }
        }
        return names;
    }

    TempHome home;
    ServerProcess server;
    SyncEngineOptions options;
    RunLoop loop;
    std::shared_ptr<APIClient> client;
    std::unique_ptr<OtherDevice> other;
    fs::path syncDir;
    std::shared_ptr<ActivityManager> activity;
    std::shared_ptr<SelectiveSyncManager> selective;
    std::shared_ptr<BandwidthThrottler> throttler;
    std::vector<std::shared_ptr<SyncEngine>> engines;
    std::mutex mutex;
    std::vector<SyncStatus> statuses;
    std::vector<std::string> errors;
};

}  // namespace corvane::test
