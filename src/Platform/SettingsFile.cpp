#include "Platform/SettingsFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Platform/AtomicFile.h"
#include "Platform/CallGuarded.h"
#include "Platform/InstanceRegistry.h"
#include "Platform/SerialQueue.h"
#include "Platform/UniqueFd.h"

namespace corvane {
namespace {

using nlohmann::json;

// How long the first unsaved change waits for more before the file is written.
constexpr auto kPersistDelay = std::chrono::milliseconds(25);
// While changes keep coming, the next write waits longer after a write that took long (a large
// badge map): writes take at most about a fiftieth of the time, and a change still reaches the
// file within about kPersistBudget (the wait, the write, another process's read). A map of 10,000
// badges takes a few milliseconds to write, so a full sync rewrites it every 100 to 150 ms.
constexpr std::int64_t kWriteShare = 50;
constexpr auto kPersistBudget = std::chrono::milliseconds(150);
// How often reads look at the file for another process's writes.
constexpr auto kCheckInterval = std::chrono::milliseconds(5);
// A read quicker than this is repeated whenever the file changes; a slower one is repeated only
// after a pause as long as it took (see SettingsFile::kMaxReloadPause).
constexpr auto kQuickRead = std::chrono::milliseconds(1);

std::int64_t nanoseconds(std::chrono::nanoseconds duration)
{
    return duration.count();
}

// What identifies one version of the file: a rename gives a new inode, a rewrite in place a
// new size or modification time.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;

    static FileIdentity of(const struct stat& status)
    {
        return {true,
                status.st_dev,
                status.st_ino,
                status.st_size,
                status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec,
                status.st_ctim.tv_sec * 1000000000LL + status.st_ctim.tv_nsec};
    }

    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const std::filesystem::path& file)
{
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        return {};
    }
    return FileIdentity::of(status);
}

struct LoadedFile {
    json values = json::object();
    FileIdentity identity;
    bool corrupt = false;
    bool unreadable = false;  // could not be read at all (not: missing)
};

LoadedFile loadFile(const std::filesystem::path& file)
{
    LoadedFile loaded;
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        loaded.unreadable = errno != ENOENT;
        return loaded;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        loaded.unreadable = true;
        return loaded;
    }
    loaded.identity = FileIdentity::of(status);
    std::string text;
    char buffer[65536];
    while (true) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            loaded.unreadable = true;
            return loaded;
        }
        if (count == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    json parsed = json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        loaded.corrupt = true;
        return loaded;
    }
    loaded.values = std::move(parsed);
    return loaded;
}

bool isStringDictionaryValue(const json& value)
{
    if (!value.is_object()) {
        return false;
    }
    for (const auto& member : value) {
        if (!member.is_string()) {
            return false;
        }
    }
    return true;
}

std::int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

class SettingsFile::Impl {
public:
    explicit Impl(std::filesystem::path file)
        : m_file(std::move(file)), m_queue("com.corvane.defaults")
    {
        std::lock_guard io(m_ioMutex);
        reload();
        m_lastCheck = steadyNanoseconds();
    }

    ~Impl() { flush(); }

    const std::filesystem::path& file() const { return m_file; }

    void read(const std::function<void(const Values&)>& reader)
    {
        maybeReload(false);
        std::lock_guard lock(m_mutex);
        reader(m_view);
    }

    void write(const std::string& key, const std::function<void(Values&)>& writer)
    {
        std::optional<std::int64_t> due;
        {
            std::lock_guard lock(m_mutex);
            writer(m_view);
            m_dirtyKeys.insert(key);
            due = flushDueLocked();
        }
        if (due) {
            scheduleFlush(*due);
        }
    }

    void whenPersisted(const std::string& tag, std::function<void()> callback)
    {
        std::optional<std::int64_t> due;
        {
            std::lock_guard lock(m_mutex);
            m_callbacks.try_emplace(tag, std::move(callback));
            due = flushDueLocked();
        }
        if (due) {
            scheduleFlush(*due);
        }
    }

    void flush()
    {
        if (m_queue.isCurrent()) {
            flushNow();
        } else {
            m_queue.sync([this] { flushNow(); });
        }
    }

    // Looks at the file (at most every kCheckInterval, unless `force`) and reads it again when
    // another process has replaced it and its pause is over. False when the file holds a
    // change that is not read yet.
    bool maybeReload(bool force)
    {
        const std::int64_t now = steadyNanoseconds();
        if (!force &&
            now - m_lastCheck.load(std::memory_order_relaxed) < nanoseconds(kCheckInterval)) {
            return true;
        }
        m_lastCheck.store(now, std::memory_order_relaxed);
        std::unique_lock io(m_ioMutex, std::try_to_lock);
        if (!io) {
            if (!force) {
                return true;  // a load or write is under way; memory is at least as new
            }
            io.lock();
        }
        if (identityOf(m_file) == m_knownIdentity) {
            return true;
        }
        if (steadyNanoseconds() < m_pauseEnd) {
            return false;
        }
        reload();
        return true;
    }

private:
    // When a flush is to run (steady nanoseconds), if none is scheduled yet; marks it scheduled.
    // Under m_mutex.
    std::optional<std::int64_t> flushDueLocked()
    {
        if (std::exchange(m_flushScheduled, true)) {
            return std::nullopt;
        }
        const std::int64_t paced = std::min(kWriteShare * m_lastFlushTook,
                                            nanoseconds(kPersistBudget) - 2 * m_lastFlushTook);
        const std::int64_t gap = std::max(nanoseconds(kPersistDelay), paced);
        return std::max(steadyNanoseconds() + nanoseconds(kPersistDelay), m_lastFlushEnd + gap);
    }

    void scheduleFlush(std::int64_t due)
    {
        const auto delay =
            std::chrono::nanoseconds(std::max<std::int64_t>(0, due - steadyNanoseconds()));
        m_queue.asyncAfter(std::chrono::duration_cast<Clock::Duration>(delay),
                           [this] { flushNow(); });
    }

    // Reads the file again when it is not the version we know, pause or not. Under m_ioMutex.
    void reloadIfChanged()
    {
        if (identityOf(m_file) != m_knownIdentity) {
            reload();
        }
    }

    // Reads the file and takes its values; a slow read sets the pause before the next. Under
    // m_ioMutex.
    void reload()
    {
        const std::int64_t start = steadyNanoseconds();
        install(loadFile(m_file));
        const std::int64_t end = steadyNanoseconds();
        const std::int64_t took = end - start;
        m_pauseEnd = took < nanoseconds(kQuickRead)
                         ? end
                         : end + std::min(took, nanoseconds(kMaxReloadPause));
    }

    // Takes the values of a freshly read file; local changes not yet written win. Under
    // m_ioMutex.
    void install(LoadedFile loaded)
    {
        if (loaded.unreadable) {
            return;  // keep what we have; the next look tries again
        }
        m_knownIdentity = loaded.identity;
        m_knownCorrupt = loaded.corrupt;
        json previous;
        {
            std::lock_guard lock(m_mutex);
            for (const std::string& key : m_dirtyKeys) {
                if (const auto local = m_values.find(key); local != m_values.end()) {
                    loaded.values[key] = *local;
                } else {
                    loaded.values.erase(key);
                }
            }
            previous = std::exchange(m_values, std::move(loaded.values));
            m_view.forgetShapes();
        }
        // Freeing a large badge map takes a while: not under the lock, nor on the reader's
        // thread, which is often the file manager's main thread.
        m_queue.async([previous = std::move(previous)] {});
    }

    void flushNow()
    {
        const std::int64_t started = steadyNanoseconds();
        std::map<std::string, std::function<void()>> callbacks;
        {
            std::lock_guard io(m_ioMutex);
            std::error_code ignored;
            std::filesystem::create_directories(m_file.parent_path(), ignored);
            // The folder's lock keeps another process from writing between our merge and rename.
            const UniqueFd folder(
                ::open(m_file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (folder) {
                while (::flock(folder.get(), LOCK_EX) != 0 && errno == EINTR) {
                }
            }
            reloadIfChanged();

            std::string snapshot;
            std::set<std::string> written;
            {
                std::lock_guard lock(m_mutex);
                callbacks.swap(m_callbacks);
                m_flushScheduled = false;
                if (!m_dirtyKeys.empty()) {
                    // Written out as text here rather than copied: with a large badge map a
                    // copy, and freeing it afterwards, cost more than the text itself.
                    snapshot = serialize(m_values);
                    written.swap(m_dirtyKeys);
                }
            }
            const bool failed = !written.empty() && !writeSnapshot(snapshot);
            std::lock_guard lock(m_mutex);
            if (failed) {
                // Swallowed on purpose: settings stay in memory and go out with the next write.
                m_dirtyKeys.merge(written);
            }
            if (!written.empty()) {
                m_lastFlushEnd = steadyNanoseconds();
                m_lastFlushTook = m_lastFlushEnd - started;
            }
        }
        // One callback that throws must neither keep the others from running nor, through a
        // flush in the destructor, end the process.
        for (auto& [tag, callback] : callbacks) {
            callGuarded("settings persisted callback", callback);
        }
    }

    static std::string serialize(const json& values)
    {
        // A text that is not UTF-8 (a Linux file name can be any bytes) is written with
        // replacement characters rather than failing the whole file.
        return values.dump(-1, ' ', false, json::error_handler_t::replace);
    }

    // Replaces the file with `text`. Under m_ioMutex and the folder lock.
    bool writeSnapshot(const std::string& text)
    {
        // A corrupt file that cannot be kept aside is left alone: the settings stay in memory
        // rather than destroy what the user may still recover from it.
        if (m_knownCorrupt && m_knownIdentity.exists && !moveCorruptFileAside()) {
            return false;
        }
        if (!AtomicFile::tryWrite(m_file, text)) {
            return false;
        }
        // Looked at after the rename, which changes the file's change time: the identity taken
        // before it would never match, and every later look would read our own write again.
        // The folder lock keeps other writers out until then. Should the file be gone already,
        // an identity that no file has makes the next look read whatever is there.
        const FileIdentity renamed = identityOf(m_file);
        m_knownIdentity = renamed.exists ? renamed : FileIdentity{.exists = true};
        m_knownCorrupt = false;
        return true;
    }

    // Keeps an unreadable settings file as "<name>.corrupt" (or ".corrupt.1", ... when that
    // name is taken) so that nobody's settings are silently destroyed. False when it stays
    // where it is.
    bool moveCorruptFileAside()
    {
        const std::string base = m_file.string() + ".corrupt";
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string target = attempt == 0 ? base : base + "." + std::to_string(attempt);
            std::error_code error;
            if (std::filesystem::exists(target, error) || error) {
                continue;
            }
            if (::rename(m_file.c_str(), target.c_str()) != 0) {
                return false;
            }
            m_knownIdentity = {};
            return true;
        }
        return false;
    }

    const std::filesystem::path m_file;

    std::mutex m_mutex;  // guards the members up to m_callbacks
    json m_values = json::object();
    std::set<std::string> m_dirtyKeys;  // changed here and not yet written
    Values m_view{m_values};
    bool m_flushScheduled = false;
    std::int64_t m_lastFlushEnd = 0;   // steady nanoseconds at the end of the latest write
    std::int64_t m_lastFlushTook = 0;  // how long that write took
    std::map<std::string, std::function<void()>> m_callbacks;

    // Serialises loads and writes; taken before m_mutex, never the other way round.
    std::mutex m_ioMutex;
    FileIdentity m_knownIdentity;  // the version of the file that m_values reflects
    bool m_knownCorrupt = false;
    std::int64_t m_pauseEnd = 0;  // steady nanoseconds before which reads do not reload
    std::atomic<std::int64_t> m_lastCheck{0};

    SerialQueue m_queue;  // last: stopped before the members above go away
};
namespace {

InstanceRegistry<SettingsFile>& registry()
{
    static InstanceRegistry<SettingsFile> instances;
    return instances;
}

}  // namespace

std::shared_ptr<SettingsFile> SettingsFile::shared(const std::filesystem::path& file)
{
    return registry().get(file, [](const std::filesystem::path& path) {
        return std::make_shared<SettingsFile>(path);
    });
}

void SettingsFile::resetShared()
{
    // Each instance that nobody else holds writes what it still holds as it goes.
    registry().clear();
}

SettingsFile::SettingsFile(std::filesystem::path file)
    : m_impl(std::make_unique<Impl>(std::move(file)))
{
}

SettingsFile::~SettingsFile() = default;

const std::filesystem::path& SettingsFile::file() const
{
    return m_impl->file();
}

void SettingsFile::read(const std::function<void(const Values&)>& reader) const
{
    m_impl->read(reader);
}

void SettingsFile::write(const std::string& key, const std::function<void(Values&)>& writer)
{
    m_impl->write(key, writer);
}

void SettingsFile::whenPersisted(const std::string& tag, std::function<void()> callback)
{
    m_impl->whenPersisted(tag, std::move(callback));
}

void SettingsFile::flush()
{
    m_impl->flush();
}

bool SettingsFile::synchronize()
{
    return m_impl->maybeReload(true);
}

const nlohmann::json* SettingsFile::Values::stringDictionary(const std::string& key) const
{
    const auto value = m_values.find(key);
    if (value == m_values.end()) {
        return nullptr;
    }
    auto shape = m_shapes.find(key);
    if (shape == m_shapes.end()) {
        shape = m_shapes.emplace(key, isStringDictionaryValue(*value)).first;
    }
    return shape->second ? &*value : nullptr;
}

nlohmann::json& SettingsFile::Values::stringDictionaryToChange(const std::string& key)
{
    if (!stringDictionary(key)) {
        m_values[key] = json::object();
    }
    m_shapes.insert_or_assign(key, true);
    return m_values[key];
}

void SettingsFile::Values::set(const std::string& key, const nlohmann::json& value)
{
    m_values[key] = value;
    m_shapes.erase(key);
}

void SettingsFile::Values::erase(const std::string& key)
{
    m_values.erase(key);
    m_shapes.erase(key);
}

}  // namespace corvane
