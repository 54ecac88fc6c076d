// The sync engine against a local corvane-server, with real files in temporary sync folders:
//   1. start-up cycles: the initial upload of many small files to an empty account, their
//      initial download into an empty folder by a second engine, a cycle with nothing to do,
//      and one large file up and down (next to the curl command line moving a file of the same
//      size to and from the same server);
//   2. live sync with the product's delays: a local edit until the server announces it, another
//      device's upload until the local file holds it, and the idle cost of a started engine;
//   3. a drop: many new small files put at once into a folder that already holds --files synced
//      files, until all are on the server, with what that cost in state-file writes.
// Every engine runs in a fresh child process of this program with its own home folder, so its
// peak resident memory and CPU time are the client's alone (the server is a third process).
//
// sync_bench [--files N] [--folders F] [--large-mib M] [--ref-mib M] [--skip-large]
//            [--edits E] [--edit-gap-ms G] [--skip-live] [--idle-files N] [--idle-folders F]
//            [--idle-seconds S] [--skip-idle] [--skip-bulk] [--drop-files N] [--skip-drop]
//            [--rounds R] [--server-data DIR]

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "API/APIClient.h"
#include "API/WebSocketClient.h"
#include "BenchSupport.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/MainQueue.h"
#include "Platform/Paths.h"
#include "Platform/Sha256.h"
#include "Platform/UserDefaults.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/ContentHash.h"
#include "Sync/FolderResolver.h"
#include "Sync/LocalScanner.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/SyncEngine.h"
#include "support/ServerProcess.h"
#include "support/TempHome.h"

extern char** environ;

namespace corvane::bench {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace std::chrono_literals;

constexpr std::uint64_t kSmallFileBytes = 4096;

struct Options {
    int files = 10000;
    int folders = 100;
    std::uint64_t largeMiB = 1024;
    std::uint64_t refMiB = 16;  // a second large-file size, to show memory does not follow size
    bool large = true;
    bool bulk = true;
    int edits = 200;
    int editGapMs = 1000;  // pause after each edit: uniformly random up to this
    bool live = true;
    int idleFiles = 10000;
    int idleFolders = 1000;
    int idleSeconds = 60;
    bool idle = true;
    int dropFiles = 1000;
    bool drop = true;
    int rounds = 1;
    fs::path serverData;  // empty: a temporary folder on the default disk
};

Options parse(int argc, char** argv)
{
    Options options;
    parseOptions(argc, argv, [&](const std::string& option, const auto& value) {
        if (option == "--files") {
            options.files = std::stoi(value());
        } else if (option == "--folders") {
            options.folders = std::max(1, std::stoi(value()));
        } else if (option == "--large-mib") {
            options.largeMiB = std::stoull(value());
        } else if (option == "--ref-mib") {
            options.refMiB = std::stoull(value());
        } else if (option == "--skip-large") {
            options.large = false;
        } else if (option == "--skip-bulk") {
            options.bulk = false;
        } else if (option == "--edits") {
            options.edits = std::stoi(value());
        } else if (option == "--edit-gap-ms") {
            options.editGapMs = std::max(0, std::stoi(value()));
        } else if (option == "--skip-live") {
            options.live = false;
        } else if (option == "--idle-files") {
            options.idleFiles = std::stoi(value());
        } else if (option == "--idle-folders") {
            options.idleFolders = std::max(1, std::stoi(value()));
        } else if (option == "--idle-seconds") {
            options.idleSeconds = std::stoi(value());
        } else if (option == "--skip-idle") {
            options.idle = false;
        } else if (option == "--drop-files") {
            options.dropFiles = std::stoi(value());
        } else if (option == "--skip-drop") {
            options.drop = false;
        } else if (option == "--rounds") {
            options.rounds = std::max(1, std::stoi(value()));
        } else if (option == "--server-data") {
            options.serverData = value();
        } else {
            return false;
        }
        return true;
    });
    return options;
}

// Pseudo-random bytes, different per seed.
std::string randomBytes(std::size_t size, std::uint64_t seed)
{
    std::mt19937_64 engine(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = engine();
        std::memcpy(bytes.data() + i, &word, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `files` files of 4 KiB spread evenly over `folders` top-level folders, content new per seed.
void writeSmallTree(const fs::path& root, int files, int folders, std::uint64_t seed)
{
    for (int i = 0; i < files; ++i) {
        std::ostringstream folder;
        std::ostringstream name;
        folder << "Folder-" << std::setw(4) << std::setfill('0') << i % folders;
        name << "file-" << std::setw(5) << std::setfill('0') << i << ".bin";
        fs::create_directories(root / folder.str());
        writeRandomFile(root / folder.str() / name.str(), kSmallFileBytes,
                        seed * 1000003 + static_cast<std::uint64_t>(i));
    }
}

// The regular files below `root`, sync-relative, hidden entries left out.
std::vector<std::string> localFiles(const fs::path& root)
{
    std::vector<std::string> paths;
    for (auto walk = fs::recursive_directory_iterator(root); walk != fs::end(walk); ++walk) {
        if (walk->path().filename().string().starts_with('.')) {
            walk.disable_recursion_pending();
            continue;
        }
        if (walk->is_regular_file()) {
            paths.push_back("/" + walk->path().lexically_relative(root).string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Every file of the account, sync-relative.
std::vector<FileInfo> serverFiles(const std::string& url, const std::string& token)
{
    const auto client = std::make_shared<APIClient>(url);
    client->setToken(token);
    FolderResolver resolver(client);
    std::vector<FileInfo> all;
    for (const std::string& id : resolver.load()) {
        auto collected = LocalScanner::collectFiles(client->getFolderTree(id));
        all.insert(all.end(), collected.begin(), collected.end());
    }
    return resolver.normalizeFilePaths(all);
}

// The inotify watches this process holds, from the kernel's description of its descriptors.
std::size_t inotifyWatches()
{
    std::size_t watches = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error).string() != "anon_inode:inotify") {
            continue;
        }
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        std::string line;
        while (std::getline(info, line)) {
            watches += line.starts_with("inotify wd:") ? 1 : 0;
        }
    }
    return watches;
}

// The folders the engine syncs: the root and every visible folder below it.
std::size_t folderCount(const fs::path& root)
{
    std::size_t count = 1;  // the root itself
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (!it->is_directory() || it->is_symlink()) {
            continue;
        }
        if (it->path().filename().string().starts_with('.')) {
            it.disable_recursion_pending();
        } else {
            ++count;
        }
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// The child side: one engine per process.

// The main queue of a child: blocks until work is posted or another thread asks it to look at
// its condition again, so that an idle engine is measured without a polling loop beside it.
class EventLoop {
public:
    EventLoop() : m_queue(std::make_shared<Queue>()) { MainQueue::install(m_queue); }
    ~EventLoop() { MainQueue::uninstall(m_queue); }
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Thread-safe: makes runUntil() evaluate its condition again.
    void wake() { m_queue->wake(); }

    bool runUntil(const std::function<bool()>& done, Clock::duration timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (!done()) {
            if (!m_queue->runBatch(deadline)) {
                return done();
            }
        }
        return true;
    }

    void runFor(Clock::duration duration)
    {
        runUntil([] { return false; }, duration);
    }

private:
    class Queue final : public MainQueue::Executor {
    public:
        void post(MainQueue::Work work) override
        {
            {
                std::lock_guard lock(m_mutex);
                m_items.push_back(std::move(work));
            }
            m_changed.notify_one();
        }

        void wake()
        {
            {
                std::lock_guard lock(m_mutex);
                m_woken = true;
            }
            m_changed.notify_one();
        }

        // Runs what is posted, waiting for it until `deadline`; false when the deadline passed.
        bool runBatch(Clock::time_point deadline)
        {
            std::deque<MainQueue::Work> items;
            {
                std::unique_lock lock(m_mutex);
                if (!m_changed.wait_until(lock, deadline,
                                          [&] { return !m_items.empty() || m_woken; })) {
                    return false;
                }
                items.swap(m_items);
                m_woken = false;
            }
            for (const auto& work : items) {
                try {
                    work();
                } catch (const std::exception& error) {
                    std::cerr << "main queue: work item failed: " << error.what() << "\n";
                }
            }
            return true;
        }

    private:
        std::mutex m_mutex;
        std::condition_variable m_changed;
        std::deque<MainQueue::Work> m_items;
        bool m_woken = false;
    };

    std::shared_ptr<Queue> m_queue;
};

// The REST client of the engine, counting its requests and the time spent in each kind.
class CountingClient final : public APIClient {
public:
    enum Kind {
        kListFolders,
        kCreateFolder,
        kFolderTree,
        kListFiles,
        kUploadInit,
        kListEvents,
        kDelete,
        kChunk,
        kDownload,
        kKinds
    };
    static constexpr std::array<const char*, kKinds> kNames{
        "list_folders", "create_folder", "folder_tree", "list_files", "upload_init",
        "list_events",  "delete",        "chunk",       "download"};

    using APIClient::APIClient;

    std::vector<Folder> listFolders(const std::optional<std::string>& parentId) override
    {
        const Counted counted(m_counters[kListFolders]);
        return APIClient::listFolders(parentId);
    }
    Folder createFolder(const std::string& name,
                        const std::optional<std::string>& parentId) override
    {
        const Counted counted(m_counters[kCreateFolder]);
        return APIClient::createFolder(name, parentId);
    }
    FolderTree getFolderTree(const std::string& folderId) override
    {
        const Counted counted(m_counters[kFolderTree]);
        return APIClient::getFolderTree(folderId);
    }
    std::vector<FileInfo> listFiles(const std::string& folderId) override
    {
        const Counted counted(m_counters[kListFiles]);
        return APIClient::listFiles(folderId);
    }
    UploadInitResponse uploadInit(const UploadInitRequest& request) override
    {
        const Counted counted(m_counters[kUploadInit]);
        return APIClient::uploadInit(request);
    }
    std::vector<SyncEvent> listEvents(const std::optional<std::string>& sinceId,
                                      const std::vector<std::string>& folderIds) override
    {
        const Counted counted(m_counters[kListEvents]);
        return APIClient::listEvents(sinceId, folderIds);
    }
    void deleteFile(const std::string& path, const std::string& folderId) override
    {
        const Counted counted(m_counters[kDelete]);
        APIClient::deleteFile(path, folderId);
    }
    std::optional<FileInfo> uploadChunk(const std::string& uploadId, std::string_view data) override
    {
        const Counted counted(m_counters[kChunk]);
        return APIClient::uploadChunk(uploadId, data);
    }
    std::optional<FileInfo> uploadChunkFromFile(const std::string& uploadId,
                                                const std::filesystem::path& file) override
    {
        const Counted counted(m_counters[kChunk]);
        return APIClient::uploadChunkFromFile(uploadId, file);
    }
    std::optional<FileInfo> uploadChunkFromFile(const std::string& uploadId,
                                                const std::filesystem::path& file,
                                                std::uint64_t size,
                                                const std::string& sha256) override
    {
        const Counted counted(m_counters[kChunk]);
        return APIClient::uploadChunkFromFile(uploadId, file, size, sha256);
    }
    std::string download(const std::string& hash) override
    {
        const Counted counted(m_counters[kDownload]);
        return APIClient::download(hash);
    }
    std::uint64_t downloadToFile(const std::string& hash,
                                 const std::filesystem::path& destination) override
    {
        const Counted counted(m_counters[kDownload]);
        return APIClient::downloadToFile(hash, destination);
    }
    std::uint64_t downloadToFile(const std::string& hash, const std::filesystem::path& destination,
                                 std::string& sha256) override
    {
        const Counted counted(m_counters[kDownload]);
        return APIClient::downloadToFile(hash, destination, sha256);
    }

    // {"upload_init": {"calls": n, "seconds": s}, ...} for the kinds that were called.
    json counts() const
    {
        json result = json::object();
        for (std::size_t kind = 0; kind < kKinds; ++kind) {
            if (const auto calls = m_counters[kind].calls.load()) {
                result[kNames[kind]] = {{"calls", calls},
                                        {"seconds", m_counters[kind].nanoseconds.load() / 1e9}};
            }
        }
        return result;
    }

private:
    struct Counter {
        std::atomic<std::uint64_t> calls{0};
        std::atomic<std::uint64_t> nanoseconds{0};
    };
    // Counts one call, failed or not, with its duration.
    class Counted {
    public:
        explicit Counted(Counter& counter) : m_counter(counter), m_started(Clock::now()) {}
        ~Counted()
        {
            ++m_counter.calls;
            m_counter.nanoseconds += static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_started)
                    .count());
        }
        Counted(const Counted&) = delete;
        Counted& operator=(const Counted&) = delete;

    private:
        Counter& m_counter;
        const Clock::time_point m_started;
    };

    std::array<Counter, kKinds> m_counters;
};

// One engine on the child's main loop, with its callbacks recorded.
class EngineRun {
public:
    EngineRun(EventLoop& loop, const json& config)
        : m_loop(loop), m_client(std::make_shared<CountingClient>(config.at("url"))),
          m_activity(std::make_shared<ActivityManager>())
    {
        m_client->setToken(config.at("token").get<std::string>());
        m_engine = SyncEngine::create(
            m_client, config.at("sync_dir").get<std::string>(), m_activity,
            std::make_shared<SelectiveSyncManager>(), std::make_shared<BandwidthThrottler>(),
            [this](SyncStatus status) {
                if (status == SyncStatus::idle) {
                    ++m_idles;
                    m_loop.wake();
                }
            },
            [this](const std::string& message) {
                {
                    std::lock_guard lock(m_mutex);
                    m_errors.push_back(message);
                }
                m_loop.wake();
            });
    }

    ~EngineRun()
    {
        if (m_engine->isRunning()) {
            m_engine->stop();
        }
        // Background work holds the engine and reports to this object: wait until it is done.
        m_loop.runUntil([&] { return m_engine.use_count() == 1; }, 60s);
    }
    EngineRun(const EngineRun&) = delete;
    EngineRun& operator=(const EngineRun&) = delete;

    // Starts the engine and waits for the end of its start-up cycle; its duration in seconds.
    double startAndAwaitCycle()
    {
        const auto started = Clock::now();
        m_engine->start();
        const bool done = m_loop.runUntil([&] { return m_idles > 0 || !errors().empty(); },
                                          std::chrono::hours(2));
        const double elapsed = seconds(Clock::now() - started);
        if (!done || !errors().empty()) {
            throw std::runtime_error("the start-up cycle failed: " +
                                     (errors().empty() ? "timed out" : errors().front()));
        }
        return elapsed;
    }

    void stop() { m_engine->stop(); }

    std::vector<std::string> errors() const
    {
        std::lock_guard lock(m_mutex);
        return m_errors;
    }

    json counts() const { return m_client->counts(); }

private:
    EventLoop& m_loop;
    const std::shared_ptr<CountingClient> m_client;
    const std::shared_ptr<ActivityManager> m_activity;
    std::shared_ptr<SyncEngine> m_engine;
    std::atomic<int> m_idles{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_errors;
};

// Runs `work` on a helper thread (blocking REST calls stay off the main thread) while the main
// loop keeps serving the engine; rethrows what the work threw.
void runBesideLoop(EventLoop& loop, const std::function<void()>& work)
{
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread helper([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        loop.wake();
    });
    loop.runUntil([&] { return done.load(); }, std::chrono::hours(2));
    helper.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// Another device of the account: uploads one file by its sync-relative path.
class OtherDevice {
public:
    OtherDevice(const std::string& url, const std::string& token, const std::string& path)
        : m_client(std::make_shared<APIClient>(url)), m_resolver(m_client)
    {
        m_client->setToken(token);
        m_resolver.load();
        m_folderId = m_resolver.resolve(path);
        m_serverPath = m_resolver.stripFolderPrefix(path, m_folderId);
    }

    // Uploads `content`; returns when the chunk upload has been answered.
    void upload(const std::string& content)
    {
        const auto answer = m_client->uploadInit(
            UploadInitRequest{m_serverPath, m_folderId, Sha256::of(content),
                              static_cast<std::int64_t>(content.size()), m_version});
        std::optional<FileInfo> stored = answer.file;
        if (answer.uploadId) {
            stored = m_client->uploadChunk(*answer.uploadId, content);
        }
        if (stored) {
            m_version = stored->version;
        }
    }

private:
    const std::shared_ptr<APIClient> m_client;
    FolderResolver m_resolver;
    std::string m_folderId;
    std::string m_serverPath;
    std::int64_t m_version = 0;
};

// A push channel of its own, recording when each announced hash arrived.
class PushObserver {
public:
    PushObserver(EventLoop& loop, const std::string& url, const std::string& token)
        : m_loop(loop), m_channel(std::make_shared<WebSocketClient>(url, token))
    {
        m_channel->connect(
            [this](const WSMessage& message) {
                if (message.type == "file_changed" && message.event && message.event->hash) {
                    m_arrivals.emplace(*message.event->hash, Clock::now());
                }
            },
            [] {});
    }
    ~PushObserver() { m_channel->disconnect(); }
    PushObserver(const PushObserver&) = delete;
    PushObserver& operator=(const PushObserver&) = delete;

    // Main thread only.
    std::optional<Clock::time_point> arrival(const std::string& hash) const
    {
        const auto found = m_arrivals.find(hash);
        return found == m_arrivals.end() ? std::nullopt : std::optional(found->second);
    }

    bool awaitHash(const std::string& hash, Clock::duration timeout)
    {
        return m_loop.runUntil([&] { return arrival(hash).has_value(); }, timeout);
    }

private:
    EventLoop& m_loop;
    const std::shared_ptr<WebSocketClient> m_channel;
    std::map<std::string, Clock::time_point> m_arrivals;  // main thread only
};

// How often a file that is written by replacing it (the state file, the badge store) is
// replaced while this watches, and how many bytes those writes made: each write replaces the
// whole file, whose size is read once the new one has its name. Watches from a thread of its own
// with inotify; the file's folder is made when missing.
class FileReplacements {
public:
    explicit FileReplacements(const fs::path& file)
        : m_file(file), m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        fs::create_directories(file.parent_path());
        if (m_fd < 0 || ::inotify_add_watch(m_fd, file.parent_path().c_str(), IN_MOVED_TO) < 0) {
            throw std::runtime_error("cannot watch " + file.parent_path().string());
        }
        m_thread = std::jthread([this](const std::stop_token& stop) { watch(stop); });
    }
    ~FileReplacements()
    {
        stop();
        ::close(m_fd);
    }
    FileReplacements(const FileReplacements&) = delete;
    FileReplacements& operator=(const FileReplacements&) = delete;

    // Counts what happened until now and stops watching.
    void stop()
    {
        if (m_thread.joinable()) {
            m_thread.request_stop();
            m_thread.join();
        }
    }

    std::uint64_t writes() const { return m_writes; }
    std::uint64_t bytes() const { return m_bytes; }

private:
    void watch(const std::stop_token& stop)
    {
        alignas(inotify_event) std::array<char, 16384> buffer{};
        while (true) {
            pollfd poller{m_fd, POLLIN, 0};
            const bool stopping = stop.stop_requested();
            if (::poll(&poller, 1, stopping ? 0 : 50) > 0) {
                const ssize_t length = ::read(m_fd, buffer.data(), buffer.size());
                for (ssize_t at = 0; at < length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
                    if (event->len > 0 && m_file.filename() == event->name) {
                        std::error_code gone;
                        ++m_writes;
                        m_bytes += fs::file_size(m_file, gone);
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                }
            } else if (stopping) {
                return;  // every event up to the stop is counted
            }
        }
    }

    const fs::path m_file;
    const int m_fd;
    std::atomic<std::uint64_t> m_writes{0};
    std::atomic<std::uint64_t> m_bytes{0};
    std::jthread m_thread;
};

// One start-up cycle over the sync folder, then stop.
json childCycle(EventLoop& loop, const json& config)
{
    const long rssBefore = statusKiB("VmRSS");
    FileReplacements badges(Paths::config() /
                            (std::string(SyncStateProvider::kSuiteName) + ".json"));
    EngineRun engine(loop, config);
    const double elapsed = engine.startAndAwaitCycle();
    engine.stop();
    badges.stop();
    return {{"seconds", elapsed},
            {"requests", engine.counts()},
            {"rss_before_kib", rssBefore},
            {"badge_writes", badges.writes()},
            {"badge_bytes", badges.bytes()}};
}

// What both live children take from their configuration, and the pauses between their edits:
// random up to "gap_ms", the same sequence for the same seed.
class LiveEdits {
public:
    explicit LiveEdits(const json& config)
        : syncDir(config.at("sync_dir").get<std::string>()), url(config.at("url")),
          token(config.at("token")), count(config.at("edits")), seed(config.at("seed")),
          m_gaps(static_cast<std::mt19937::result_type>(seed)),
          m_gap(0, config.at("gap_ms").get<int>())
    {
    }

    std::chrono::milliseconds nextGap() { return std::chrono::milliseconds(m_gap(m_gaps)); }

    const fs::path syncDir;
    const std::string url;
    const std::string token;
    const int count;
    const std::uint64_t seed;

private:
    std::mt19937 m_gaps;
    std::uniform_int_distribution<int> m_gap;
};

// Local edits of one 4 KiB file with the product's delays: from the write to the server's
// announcement of the new hash on a second push channel.
json childLiveLocal(EventLoop& loop, const json& config)
{
    LiveEdits live(config);
    const fs::path file = live.syncDir / "Docs" / "edit.txt";
    fs::create_directories(file.parent_path());
    writeRandomFile(file, kSmallFileBytes, live.seed);

    // The observer's channel works once it has seen another device's upload.
    PushObserver observer(loop, live.url, live.token);
    runBesideLoop(loop, [&] {
        OtherDevice probe(live.url, live.token, "/probe.txt");
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string content = "probe " + std::to_string(attempt);
            probe.upload(content);
            bool seen = false;
            for (int wait = 0; wait < 30 && !seen; ++wait) {
                std::this_thread::sleep_for(10ms);
                MainQueue::sync([&] { seen = observer.arrival(Sha256::of(content)).has_value(); });
            }
            if (seen) {
                return;
            }
        }
        throw std::runtime_error("the observer's push channel did not open");
    });

    EngineRun engine(loop, config);
    engine.startAndAwaitCycle();
    std::uint64_t written = 0;
    // Writes the next content; returns its hash and when the write was done.
    const auto edit = [&] {
        const std::string hash =
            writeRandomFile(file, kSmallFileBytes, live.seed * 7919 + ++written);
        return std::pair(hash, Clock::now());
    };
    // Edits after the cycle are watched; until one is seen on the server the run is warming up.
    bool watching = false;
    for (int attempt = 0; attempt < 20 && !watching; ++attempt) {
        watching = observer.awaitHash(edit().first, 3s);
    }
    if (!watching) {
        throw std::runtime_error("no local edit reached the server");
    }
    loop.runFor(1s);
    std::vector<double> latencies;
    int missed = 0;
    for (int i = 0; i < live.count; ++i) {
        const auto [hash, done] = edit();
        if (observer.awaitHash(hash, 10s)) {
            latencies.push_back(milliseconds(*observer.arrival(hash) - done));
        } else {
            ++missed;
        }
        loop.runFor(live.nextGap());
    }
    return {{"latencies_ms", latencies}, {"missed", missed}, {"errors", engine.errors()}};
}

// Waits with inotify until `file` holds `content`; false after the timeout.
bool awaitContent(int inotifyFd, const fs::path& file, const std::string& content,
                  Clock::time_point deadline)
{
    std::array<char, 16384> buffer{};
    while (readFile(file) != content) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd poller{inotifyFd, POLLIN, 0};
        if (::poll(&poller, 1, static_cast<int>(left.count())) > 0) {
            // Drained only: whatever changed in the folder, the file is read again.
            while (::read(inotifyFd, buffer.data(), buffer.size()) > 0) {
            }
        }
    }
    return true;
}

// Another device's uploads of one 4 KiB file: from the chunk upload's answer to the local file
// holding the new content.
json childLiveRemote(EventLoop& loop, const json& config)
{
    LiveEdits live(config);
    const std::string path = "/Docs/remote.txt";
    const fs::path file = live.syncDir / "Docs" / "remote.txt";

    EngineRun engine(loop, config);
    engine.startAndAwaitCycle();
    std::vector<double> latencies;
    std::vector<double> fromStart;  // from before the upload's first request
    int missed = 0;
    runBesideLoop(loop, [&] {
        OtherDevice other(live.url, live.token, path);
        // The push channel opens before the cycle but may still be connecting when it ends:
        // upload until a push gets through.
        bool through = false;
        for (int attempt = 0; attempt < 100 && !through; ++attempt) {
            const std::string content = "warm-up " + std::to_string(attempt);
            other.upload(content);
            for (int wait = 0; wait < 30 && !through; ++wait) {
                std::this_thread::sleep_for(10ms);
                through = readFile(file) == content;
            }
        }
        if (!through) {
            throw std::runtime_error("the engine's push channel did not open");
        }
        const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        const std::unique_ptr<const int, void (*)(const int*)> closer(
            &fd, [](const int* f) { ::close(*f); });
        if (fd < 0 || ::inotify_add_watch(fd, file.parent_path().c_str(),
                                          IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0) {
            throw std::runtime_error("cannot watch " + file.parent_path().string());
        }
        for (int i = 0; i < live.count; ++i) {
            const std::string content =
                randomBytes(kSmallFileBytes, live.seed * 104729 + static_cast<std::uint64_t>(i));
            const auto started = Clock::now();
            other.upload(content);
            const auto answered = Clock::now();
            if (awaitContent(fd, file, content, answered + 10s)) {
                const auto arrived = Clock::now();
                latencies.push_back(milliseconds(arrived - answered));
                fromStart.push_back(milliseconds(arrived - started));
            } else {
                ++missed;
            }
            std::this_thread::sleep_for(live.nextGap());
        }
    });
    return {{"latencies_ms", latencies},
            {"from_start_ms", fromStart},
            {"missed", missed},
            {"errors", engine.errors()}};
}

// A started engine left alone: its CPU time over a while, and its inotify watches.
json childIdle(EventLoop& loop, const json& config)
{
    const fs::path syncDir = config.at("sync_dir").get<std::string>();
    EngineRun engine(loop, config);
    const double cycle = engine.startAndAwaitCycle();
    loop.runFor(5s);  // the watcher's first walk and the push channel's connection settle
    const std::size_t watches = inotifyWatches();
    const double cpuBefore = cpuSeconds();
    const auto started = Clock::now();
    loop.runFor(std::chrono::seconds(config.at("idle_seconds").get<int>()));
    const double wall = seconds(Clock::now() - started);
    const double cpu = cpuSeconds() - cpuBefore;
    return {{"cycle_seconds", cycle},          {"idle_wall_seconds", wall},
            {"idle_cpu_seconds", cpu},         {"watches", watches},
            {"folders", folderCount(syncDir)}, {"rss_kib", statusKiB("VmRSS")},
            {"errors", engine.errors()}};
}

double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return cpuSecondsOf(usage);
}

std::int64_t contextSwitches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// The names of the files in the top-level server folder `folderName` that hold the content
// the caller expects (name -> hash): how many match.
std::size_t filesOnServer(APIClient& client, const std::string& folderName,
                          const std::map<std::string, std::string>& expected)
{
    for (const Folder& folder : client.listFolders()) {
        if (folder.name != folderName) {
            continue;
        }
        std::size_t matching = 0;
        for (const FileInfo& file :
             client.getFolderTree(folder.id).files.value_or(std::vector<FileInfo>{})) {
            const auto wanted = expected.find(file.name);
            matching += wanted != expected.end() && wanted->second == file.hash ? 1 : 0;
        }
        return matching;
    }
    return 0;
}

// A started engine over synced files gets many new small files at once (written one after the
// other into a new folder, as a copy would): the time until the server holds them all, the
// state file's writes meanwhile, and the client's CPU time without the writing of the files and
// the looking on the server (both on a helper thread, whose own CPU time is left out).
json childDrop(EventLoop& loop, const json& config)
{
    const fs::path syncDir = config.at("sync_dir").get<std::string>();
    const int count = config.at("drop_files");
    const std::uint64_t seed = config.at("seed");
    const std::string folderName = "Dropped";
    EngineRun engine(loop, config);
    engine.startAndAwaitCycle();
    loop.runFor(1s);  // the watcher's first walk and the push channel's connection settle
    FileReplacements writes(syncDir / ".corvane" / "sync_state.json");

    double helperCpu = 0;
    const double cpuBefore = cpuSeconds();
    const std::int64_t switchesBefore = contextSwitches();
    const auto started = Clock::now();
    runBesideLoop(loop, [&] {
        const double helperStart = threadCpuSeconds();
        std::map<std::string, std::string> expected;
        fs::create_directories(syncDir / folderName);
        for (int i = 0; i < count; ++i) {
            const std::string name = "dropped-" + std::to_string(i) + ".bin";
            expected[name] = writeRandomFile(syncDir / folderName / name, kSmallFileBytes,
                                             seed * 7000001 + static_cast<std::uint64_t>(i));
        }
        APIClient client(config.at("url").get<std::string>());
        client.setToken(config.at("token").get<std::string>());
        const auto deadline = Clock::now() + 30min;
        while (filesOnServer(client, folderName, expected) < expected.size()) {
            if (Clock::now() > deadline) {
                throw std::runtime_error("the dropped files did not all reach the server");
            }
            std::this_thread::sleep_for(50ms);
        }
        helperCpu = threadCpuSeconds() - helperStart;
    });
    const double elapsed = seconds(Clock::now() - started);
    const double cpu = cpuSeconds() - cpuBefore - helperCpu;
    const std::int64_t switches = contextSwitches() - switchesBefore;
    // The rest of the work's writes and the final one at stop count too.
    loop.runFor(500ms);
    engine.stop();
    writes.stop();
    return {{"seconds", elapsed},
            {"files", count},
            {"state_writes", writes.writes()},
            {"state_bytes", writes.bytes()},
            {"state_size", fs::file_size(syncDir / ".corvane" / "sync_state.json")},
            {"cpu_seconds", cpu},
            {"context_switches", switches},
            {"requests", engine.counts()},
            {"errors", engine.errors()}};
}

int childMain(const json& config)
{
    try {
        test::TempHome home;  // each device has a home of its own
        EventLoop loop;
        const std::string scenario = config.at("scenario");
        json result;
        if (scenario == "cycle") {
            result = childCycle(loop, config);
        } else if (scenario == "live-local") {
            result = childLiveLocal(loop, config);
        } else if (scenario == "live-remote") {
            result = childLiveRemote(loop, config);
        } else if (scenario == "idle") {
            result = childIdle(loop, config);
        } else if (scenario == "drop") {
            result = childDrop(loop, config);
        } else {
            throw std::runtime_error("unknown scenario " + scenario);
        }
        // Pending settings (the badge map) are written now, while everything they announce
        // to is alive: a write left to static destruction at exit crashes.
        UserDefaults::resetShared();
        result["vm_hwm_kib"] = statusKiB("VmHWM");
        std::ofstream(config.at("result").get<std::string>()) << result.dump();
    } catch (const std::exception& error) {
        std::cerr << "child failed: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The parent side: the server, the files, the child processes and the figures.

struct ChildRun {
    json result;
    // The child's own high-water mark (VmHWM). Not getrusage's maximum: a child started by
    // posix_spawn shares this process's memory until it execs, and the kernel carries that
    // memory's high-water mark over into the child's.
    double peakRssMiB = 0;
    double cpuSeconds = 0;
    double systemSeconds = 0;  // the kernel's part of cpuSeconds
    long contextSwitches = 0;  // voluntary and involuntary, all threads
};

class Bench {
public:
    Bench(Options options, test::ServerProcess& server, fs::path work)
        : m_options(std::move(options)), m_server(server), m_work(std::move(work))
    {
    }

    void runAll()
    {
        for (int round = 1; round <= m_options.rounds; ++round) {
            std::cout << "--- round " << round << " of " << m_options.rounds << "\n";
            if (m_options.bulk && m_options.files > 0) {
                bulk(round);
            }
            if (m_options.drop && m_options.dropFiles > 0) {
                drop(round);
            }
            if (m_options.large) {
                if (m_options.refMiB > 0 && m_options.refMiB != m_options.largeMiB) {
                    large(round, m_options.refMiB, "ref");
                }
                large(round, m_options.largeMiB, "large");
            }
            if (m_options.live && m_options.edits > 0) {
                liveLocal(round);
                liveRemote(round);
            }
            if (m_options.idle && m_options.idleFiles > 0) {
                idle(round);
            }
        }
        summary();
    }

private:
    std::string signIn(const std::string& who, int round)
    {
        return m_server.signIn(who + "-r" + std::to_string(round) + "@example.com");
    }

    fs::path fresh(const std::string& name)
    {
        const fs::path path = m_work / name;
        fs::remove_all(path);
        fs::create_directories(path);
        return path;
    }

    ChildRun spawn(json config)
    {
        const fs::path resultFile = m_work / ("result-" + std::to_string(++m_children) + ".json");
        config["url"] = m_server.baseURL();
        config["result"] = resultFile.string();
        const std::string log = (m_work / "children.log").string();
        std::vector<std::string> arguments{"sync_bench", "--child", config.dump()};
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The folder resolver prints a line per folder it creates: kept out of the report.
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            throw std::runtime_error(std::string("cannot start a child: ") + std::strerror(rc));
        }
        int status = 0;
        rusage usage{};
        while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            throw std::runtime_error(
                "the " + config.at("scenario").get<std::string>() + " child failed (" +
                (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                     : "exit status " + std::to_string(WEXITSTATUS(status))) +
                ")");
        }
        ChildRun run;
        std::ifstream(resultFile) >> run.result;
        fs::remove(resultFile);
        run.peakRssMiB = run.result.at("vm_hwm_kib").get<double>() / 1024.0;
        run.cpuSeconds = cpuSecondsOf(usage);
        run.contextSwitches = usage.ru_nvcsw + usage.ru_nivcsw;
        run.systemSeconds = static_cast<double>(usage.ru_stime.tv_sec) +
                            static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
        return run;
    }

    static std::uint64_t totalRequests(const json& requests)
    {
        std::uint64_t total = 0;
        for (const auto& [kind, counts] : requests.items()) {
            total += counts.at("calls").get<std::uint64_t>();
        }
        return total;
    }

    static std::string describe(const json& requests)
    {
        std::string text;
        for (const auto& [kind, counts] : requests.items()) {
            std::ostringstream seconds;
            seconds << std::fixed << std::setprecision(1) << counts.at("seconds").get<double>();
            text += (text.empty() ? "" : ", ") + kind + " " +
                    std::to_string(counts.at("calls").get<std::uint64_t>()) + " (" + seconds.str() +
                    " s)";
        }
        return text;
    }

    void record(const std::string& figure, double value) { m_figures[figure].push_back(value); }

    // Reports a cycle over `files` files of `bytes` in total and records its figures.
    void reportCycle(const std::string& name, const ChildRun& run, std::size_t files,
                     std::uint64_t bytes)
    {
        const double elapsed = run.result.at("seconds");
        const json& requests = run.result.at("requests");
        const double perFile =
            files == 0 ? 0 : static_cast<double>(totalRequests(requests)) / files;
        std::cout << std::fixed << std::setprecision(1) << name << ": " << files << " files in "
                  << std::setprecision(2) << elapsed << " s = " << std::setprecision(0)
                  << files / elapsed << " files/s, " << std::setprecision(1)
                  << bytes / 1e6 / elapsed << " MB/s; " << std::setprecision(3) << perFile
                  << " requests/file (" << describe(requests) << "); client peak RSS "
                  << std::setprecision(1) << run.peakRssMiB << " MiB ("
                  << run.result.at("rss_before_kib").get<double>() / 1024.0
                  << " MiB before the engine), CPU " << run.cpuSeconds << " s";
        if (files > 0) {
            std::cout << std::setprecision(3) << " = " << run.cpuSeconds * 1e3 / files
                      << " ms per file (" << run.systemSeconds * 1e3 / files << " in the kernel), "
                      << std::setprecision(1) << static_cast<double>(run.contextSwitches) / files
                      << " context switches per file; badge store written "
                      << run.result.value("badge_writes", 0) << " times ("
                      << run.result.value("badge_bytes", 0.0) / 1e6 << " MB)";
            record(name + " CPU ms/file", run.cpuSeconds * 1e3 / files);
        }
        std::cout << "\n";
        record(name + " files/s", files / elapsed);
        record(name + " MB/s", bytes / 1e6 / elapsed);
        record(name + " requests/file", perFile);
        record(name + " peak RSS MiB", run.peakRssMiB);
        record(name + " seconds", elapsed);
    }

    void bulk(int round)
    {
        const std::string token = signIn("bulk", round);
        const fs::path up = fresh("bulk-up");
        const fs::path down = fresh("bulk-down");
        std::cout << "writing " << m_options.files << " files of 4 KiB in " << m_options.folders
                  << " folders...\n";
        writeSmallTree(up, m_options.files, m_options.folders, static_cast<std::uint64_t>(round));
        const auto files = static_cast<std::size_t>(m_options.files);
        const std::uint64_t bytes = files * kSmallFileBytes;

        const ChildRun upload =
            spawn({{"scenario", "cycle"}, {"token", token}, {"sync_dir", up.string()}});
        reportCycle("initial upload", upload, files, bytes);
        const auto remote = serverFiles(m_server.baseURL(), token);
        if (remote.size() != files) {
            throw std::runtime_error("the server holds " + std::to_string(remote.size()) +
                                     " files after the upload");
        }

        const ChildRun download =
            spawn({{"scenario", "cycle"}, {"token", token}, {"sync_dir", down.string()}});
        reportCycle("initial download", download, files, bytes);
        const auto ours = localFiles(up);
        if (localFiles(down) != ours) {
            throw std::runtime_error("the downloaded tree differs from the uploaded one");
        }
        for (const std::string& path : ours) {
            if (readFile(up / path.substr(1)) != readFile(down / path.substr(1))) {
                throw std::runtime_error("downloaded content differs: " + path);
            }
        }

        const ChildRun nothing =
            spawn({{"scenario", "cycle"}, {"token", token}, {"sync_dir", up.string()}});
        reportCycle("cycle with nothing to do", nothing, files, bytes);
        const json& requests = nothing.result.at("requests");
        if (requests.contains("upload_init") || requests.contains("download")) {
            throw std::runtime_error("the cycle with nothing to do transferred files");
        }
        fs::remove_all(up);
        fs::remove_all(down);
    }

    void drop(int round)
    {
        const std::string token = signIn("drop", round);
        const fs::path dir = fresh("drop");
        std::cout << "writing " << m_options.files << " files of 4 KiB in " << m_options.folders
                  << " folders...\n";
        writeSmallTree(dir, m_options.files, m_options.folders,
                       300 + static_cast<std::uint64_t>(round));
        const auto files = static_cast<std::size_t>(m_options.files);
        const ChildRun base =
            spawn({{"scenario", "cycle"}, {"token", token}, {"sync_dir", dir.string()}});
        reportCycle("initial upload (before the drop)", base, files, files * kSmallFileBytes);

        const ChildRun run = spawn({{"scenario", "drop"},
                                    {"token", token},
                                    {"sync_dir", dir.string()},
                                    {"drop_files", m_options.dropFiles},
                                    {"seed", round}});
        const json& result = run.result;
        const double elapsed = result.at("seconds");
        const auto dropped = result.at("files").get<double>();
        const auto writes = result.at("state_writes").get<double>();
        const auto bytes = result.at("state_bytes").get<double>();
        const auto size = result.at("state_size").get<double>();
        const double cpu = result.at("cpu_seconds");
        const std::vector<std::string> errors = result.at("errors");
        std::cout << std::fixed << std::setprecision(2) << "drop of " << dropped
                  << " files of 4 KiB into " << files << " synced files: " << elapsed
                  << " s = " << std::setprecision(0) << dropped / elapsed
                  << " files/s (goal >= 300); state file " << writes << " writes, "
                  << std::setprecision(1) << bytes / 1e6 << " MB = " << bytes / size
                  << " times its final size of " << size / 1e6 << " MB (goal < 20); client CPU "
                  << std::setprecision(2) << cpu << " s = " << std::setprecision(3)
                  << cpu * 1e3 / dropped << " ms per file, " << std::setprecision(1)
                  << result.at("context_switches").get<double>() / dropped
                  << " context switches per file; requests " << describe(result.at("requests"))
                  << "; client peak RSS " << run.peakRssMiB << " MiB; " << errors.size()
                  << " engine errors\n";
        record("drop files/s", dropped / elapsed);
        record("drop state-file writes", writes);
        record("drop state-file bytes / size", bytes / size);
        record("drop CPU ms/file", cpu * 1e3 / dropped);
        fs::remove_all(dir);
    }

    void large(int round, std::uint64_t mib, const std::string& tag)
    {
        const std::string token = signIn(tag, round);
        const fs::path up = fresh(tag + "-up");
        const fs::path down = fresh(tag + "-down");
        const fs::path curlDir = fresh(tag + "-curl");
        const std::uint64_t size = mib * 1024 * 1024;
        const std::string label = std::to_string(mib) + " MiB";
        std::cout << "writing two files of " << label << "...\n";
        fs::create_directories(up / "Big");
        const std::string hash = writeRandomFile(up / "Big" / "large.bin", size,
                                                 1000 + static_cast<std::uint64_t>(round), true);
        const std::string curlHash = writeRandomFile(
            curlDir / "large.bin", size, 2000 + static_cast<std::uint64_t>(round), true);

        // curl moves a file of the same size to and from the same server, in an account of its
        // own so that the engine's cycles do not see it.
        const std::string curlToken = signIn(tag + "-curl", round);
        const std::string auth = "'Authorization: Bearer " + curlToken + "'";
        const auto expect200 = [](const std::string& status, const char* what) {
            if (status != "200") {
                throw std::runtime_error(std::string(what) + " answered " + status);
            }
        };
        const auto curlUpload = [&] {
            APIClient client(m_server.baseURL());
            client.setToken(curlToken);
            const std::string folder = client.createFolder("Curl").id;
            const UploadInitResponse answer = client.uploadInit(
                {"/large.bin", folder, curlHash, static_cast<std::int64_t>(size), 0});
            if (!answer.uploadId) {
                throw std::runtime_error("the server did not ask for curl's content");
            }
            const auto started = Clock::now();
            expect200(shellOutput("curl -s -o /dev/null -w '%{http_code}' -H " + auth +
                                  " -H 'Expect:' -F upload_id=" + *answer.uploadId + " -F 'data=@" +
                                  (curlDir / "large.bin").string() + ";filename=chunk' " +
                                  m_server.baseURL() + "/api/sync/upload/chunk"),
                      "curl upload");
            return seconds(Clock::now() - started);
        };
        // curl leaves its file in the page cache; the engine flushes its download to disk
        // before it renames it into place. Both are timed: curl alone and curl + fsync.
        double curlDownSynced = 0;
        const auto curlDownload = [&] {
            const fs::path target = curlDir / "large.down";
            const auto started = Clock::now();
            expect200(shellOutput("curl -s -o " + target.string() + " -w '%{http_code}' -H " +
                                  auth + " " + m_server.baseURL() + "/api/sync/download/" +
                                  curlHash),
                      "curl download");
            const double alone = seconds(Clock::now() - started);
            shellOutput("sync " + target.string());
            curlDownSynced = seconds(Clock::now() - started);
            fs::remove(target);
            return alone;
        };
        const auto engineUpload = [&] {
            ChildRun cycle =
                spawn({{"scenario", "cycle"}, {"token", token}, {"sync_dir", up.string()}});
            const auto remote = serverFiles(m_server.baseURL(), token);
            if (remote.size() != 1 || remote.front().hash != hash) {
                throw std::runtime_error("the server does not hold the large file");
            }
            return cycle;
        };
        const auto engineDownload = [&] {
            ChildRun cycle =
                spawn({{"scenario", "cycle"}, {"token", token}, {"sync_dir", down.string()}});
            if (hashFile(down / "Big" / "large.bin") != hash) {
                throw std::runtime_error("the downloaded large file differs");
            }
            return cycle;
        };
        // Each pair runs back to back, the first place taking turns: the machine may be shared.
        ChildRun upload;
        ChildRun download;
        double curlUp = 0;
        double curlDown = 0;
        if (round % 2 == 1) {
            upload = engineUpload();
            curlUp = curlUpload();
            download = engineDownload();
            curlDown = curlDownload();
        } else {
            curlUp = curlUpload();
            upload = engineUpload();
            curlDown = curlDownload();
            download = engineDownload();
        }

        const auto report = [&](const std::string& direction, const ChildRun& cycle,
                                const char* callKind, double curl) {
            const double whole = cycle.result.at("seconds");
            const double call =
                cycle.result.at("requests").at(callKind).at("seconds").get<double>();
            const std::string name = tag + " " + direction;
            std::cout << std::fixed << std::setprecision(1) << name << " (" << label
                      << ", one cycle): " << size / 1e6 / whole << " MB/s over the cycle ("
                      << std::setprecision(2) << whole << " s), " << std::setprecision(1)
                      << size / 1e6 / call << " MB/s in the transfer call; curl "
                      << size / 1e6 / curl << " MB/s; cycle/curl " << std::setprecision(2)
                      << curl / whole << "; requests " << describe(cycle.result.at("requests"))
                      << "; client peak RSS " << std::setprecision(1) << cycle.peakRssMiB
                      << " MiB, CPU " << cycle.cpuSeconds << " s\n";
            record(name + " cycle MB/s", size / 1e6 / whole);
            record(name + " call MB/s", size / 1e6 / call);
            record(name + " curl MB/s", size / 1e6 / curl);
            record(name + " cycle/curl", curl / whole);
            record(name + " peak RSS MiB", cycle.peakRssMiB);
        };
        report("upload", upload, "chunk", curlUp);
        report("download", download, "download", curlDown);
        std::cout << std::fixed << std::setprecision(1) << tag
                  << " download: curl + fsync of its file " << size / 1e6 / curlDownSynced
                  << " MB/s; cycle/(curl + fsync) " << std::setprecision(2)
                  << curlDownSynced / download.result.at("seconds").get<double>() << "\n";
        record(tag + " download curl+fsync MB/s", size / 1e6 / curlDownSynced);
        record(tag + " download cycle/(curl+fsync)",
               curlDownSynced / download.result.at("seconds").get<double>());
        fs::remove_all(up);
        fs::remove_all(down);
        fs::remove_all(curlDir);
    }

    void reportLatencies(const std::string& name, const ChildRun& run)
    {
        const std::vector<double> latencies = run.result.at("latencies_ms");
        const int missed = run.result.at("missed");
        const std::vector<std::string> errors = run.result.at("errors");
        std::cout << std::fixed << std::setprecision(1) << name << ": " << latencies.size()
                  << " edits, p50 " << percentile(latencies, 0.5) << " ms, p95 "
                  << percentile(latencies, 0.95) << " ms, max " << percentile(latencies, 1.0)
                  << " ms, min " << percentile(latencies, 0.0) << " ms; " << missed << " missed, "
                  << errors.size() << " engine errors; client peak RSS " << run.peakRssMiB
                  << " MiB\n";
        record(name + " p50 ms", percentile(latencies, 0.5));
        record(name + " p95 ms", percentile(latencies, 0.95));
        if (run.result.contains("from_start_ms")) {
            const std::vector<double> fromStart = run.result.at("from_start_ms");
            std::cout << std::fixed << std::setprecision(1) << name
                      << ", from before the upload's first request: p50 "
                      << percentile(fromStart, 0.5) << " ms, p95 " << percentile(fromStart, 0.95)
                      << " ms\n";
            record(name + " from upload start p50 ms", percentile(fromStart, 0.5));
            record(name + " from upload start p95 ms", percentile(fromStart, 0.95));
        }
    }

    void liveLocal(int round) { live("live-local", 50, "local edit to server", round); }

    void liveRemote(int round) { live("live-remote", 60, "remote upload to local file", round); }

    void live(const std::string& scenario, int seedBase, const std::string& name, int round)
    {
        const ChildRun run = spawn({{"scenario", scenario},
                                    {"token", signIn(scenario, round)},
                                    {"sync_dir", fresh(scenario).string()},
                                    {"edits", m_options.edits},
                                    {"gap_ms", m_options.editGapMs},
                                    {"seed", seedBase + round}});
        reportLatencies(name, run);
    }

    void idle(int round)
    {
        const std::string token = signIn("idle", round);
        const fs::path dir = fresh("idle");
        std::cout << "writing " << m_options.idleFiles << " files of 4 KiB in "
                  << m_options.idleFolders << " folders...\n";
        writeSmallTree(dir, m_options.idleFiles, m_options.idleFolders,
                       100 + static_cast<std::uint64_t>(round));
        const auto files = static_cast<std::size_t>(m_options.idleFiles);
        const ChildRun upload =
            spawn({{"scenario", "cycle"}, {"token", token}, {"sync_dir", dir.string()}});
        reportCycle("initial upload (" + std::to_string(m_options.idleFolders) + " folders)",
                    upload, files, files * kSmallFileBytes);
        const ChildRun run = spawn({{"scenario", "idle"},
                                    {"token", token},
                                    {"sync_dir", dir.string()},
                                    {"idle_seconds", m_options.idleSeconds}});
        const json& result = run.result;
        const double cpuPercent = 100.0 * result.at("idle_cpu_seconds").get<double>() /
                                  result.at("idle_wall_seconds").get<double>();
        const std::vector<std::string> errors = result.at("errors");
        std::cout << std::fixed << std::setprecision(3) << "idle engine over " << files
                  << " files: " << cpuPercent << " % of one core ("
                  << result.at("idle_cpu_seconds").get<double>() << " s CPU in "
                  << std::setprecision(1) << result.at("idle_wall_seconds").get<double>() << " s); "
                  << result.at("watches") << " inotify watches for " << result.at("folders")
                  << " folders (the root included); RSS "
                  << result.at("rss_kib").get<double>() / 1024 << " MiB, peak " << run.peakRssMiB
                  << " MiB; " << errors.size() << " engine errors\n";
        record("idle CPU %", cpuPercent);
        record("idle inotify watches", result.at("watches").get<double>());
        record("idle peak RSS MiB", run.peakRssMiB);
        fs::remove_all(dir);
    }

    void summary() const
    {
        std::cout << "--- medians over " << m_options.rounds << " round(s)\n";
        for (const auto& [figure, values] : m_figures) {
            std::cout << std::fixed << std::setprecision(3) << figure << ": " << median(values);
            if (values.size() > 1) {
                std::cout << "  (" << joined(values, 3) << ")";
            }
            std::cout << "\n";
        }
    }

    const Options m_options;
    test::ServerProcess& m_server;
    const fs::path m_work;
    int m_children = 0;
    std::map<std::string, std::vector<double>> m_figures;
};

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv)
{
    using namespace corvane;
    if (argc == 3 && std::string(argv[1]) == "--child") {
        return bench::childMain(nlohmann::json::parse(argv[2]));
    }
    bench::Options options = bench::parse(argc, argv);
    return bench::runBenchmarkMain([&] {
        test::TempHome home;
        test::TempDir work;
        if (!options.serverData.empty()) {
            options.serverData /= "corvane-sync-bench-" + std::to_string(::getpid());
            std::filesystem::create_directories(options.serverData);
        }
        // Declared before the server, so removed after it has stopped.
        const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)>
            serverDataCleanup(options.serverData.empty() ? nullptr : &options.serverData,
                              [](const std::filesystem::path* path) {
                                  std::error_code ignored;
                                  std::filesystem::remove_all(*path, ignored);
                              });
        test::ServerProcess server(test::ServerOptions{false, "relative", options.serverData});
        bench::Bench(options, server, work.path()).runAll();
        return 0;
    });
}
