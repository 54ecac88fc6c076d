#include "Logging/FileLogger.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zip.h>

#include "Logging/LogLine.h"
#include "Platform/Paths.h"
#include "Platform/SerialQueue.h"
#include "Platform/UniqueFd.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBackupPrefix = "corvane.log.";
constexpr std::string_view kStateFile = ".corvane/sync_state.json";
// A thread's line buffer keeps at most this much memory after an unusually long line.
constexpr std::size_t kKeptLineCapacity = 64 * 1024;

// "yyyyMMdd-HHmmss" in local time: backups and exports sort by name in time order.
std::string localStamp(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return std::string(text, length);
}

// Creates `dir` and its missing parents, each new folder owner-only. Failures show up later,
// when the file cannot be opened.
void createPrivateDirectories(const fs::path& dir)
{
    fs::path partial;
    for (const auto& part : dir) {
        partial /= part;
        ::mkdir(partial.c_str(), 0700);
    }
}

// Renames `from` to `to` unless `to` exists; returns 0 or the errno value. A plain rename would
// silently replace a backup made earlier within the same second.
int moveWithoutReplacing(const fs::path& from, const fs::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // The file system cannot rename without replacing; a hard link refuses an existing name too.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    ::unlink(from.c_str());
    return 0;
}

// A reader that closed the echo's pipe would otherwise end the process with SIGPIPE, taking the
// lines not yet written to the file with it: the write fails with EPIPE instead, which the echo
// ignores like every other failure. A handler or disposition the program chose stays.
void ignoreBrokenPipeByDefault()
{
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, nullptr);
    }
}

// Names in `dir` that begin with `prefix`, as full paths sorted by plain text comparison, or
// nothing when the folder cannot be listed.
std::optional<std::vector<fs::path>> filesWithPrefix(const fs::path& dir, std::string_view prefix)
{
    std::error_code error;
    fs::directory_iterator entry(dir, error);
    if (error) {
        return std::nullopt;
    }
    std::vector<fs::path> paths;
    for (; entry != fs::directory_iterator(); entry.increment(error)) {
        if (error) {
            return std::nullopt;
        }
        const std::string name = entry->path().filename().string();
        if (name.starts_with(prefix)) {
            paths.push_back(dir / name);
        }
    }
    std::sort(paths.begin(), paths.end(),
              [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    return paths;
}

// One file of the export as it was at one moment: an open descriptor and the length to copy.
// Renames, deletions and appends after that moment do not change what is copied.
struct Snapshot {
    std::string name;
    UniqueFd fd;
    std::uint64_t size = 0;
    std::time_t modified = 0;
};

// Nothing for anything but a regular file. Opening does not wait: a FIFO under a log file's or
// the state file's name would otherwise block the export (and, for log files, the logger's
// queue) until some writer came along.
std::optional<Snapshot> snapshotOf(const fs::path& file, std::string name)
{
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return Snapshot{std::move(name), std::move(fd), static_cast<std::uint64_t>(status.st_size),
                    status.st_mtime};
}

bool syncToDisk(const fs::path& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd && ::fsync(fd.get()) == 0;
}

struct ZipDiscard {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipDiscard>;

// The zip of one export: collects folders and file snapshots, then writes them in that order.
class Archive {
public:
    // `tag` tells this export's temporary file from those of exports running at the same time.
    Archive(fs::path path, std::string tag) : m_path(std::move(path)), m_tag(std::move(tag)) {}

    void addDirectory(std::string name) { m_directories.push_back(std::move(name)); }
    void addEntry(Snapshot snapshot) { m_entries.push_back(std::move(snapshot)); }
    bool empty() const { return m_entries.empty(); }

    // Writes the zip under a hidden temporary name beside its own and moves it into place, so
    // the name only ever shows a complete archive. A zip already there (an export earlier in
    // the same second) is kept rather than replaced. False, with nothing left behind, on failure.
    bool write()
    {
        const fs::path temporary =
            m_path.parent_path() / ("." + m_path.filename().string() + "." + m_tag + ".part");
        if (writeZip(temporary) && syncToDisk(temporary) &&
            moveWithoutReplacing(temporary, m_path) == 0) {
            syncToDisk(m_path.parent_path());
            return true;
        }
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }

private:
    bool writeZip(const fs::path& path)
    {
        int openError = 0;
        ZipHandle zip(zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &openError));
        if (!zip) {
            return false;
        }
        for (const std::string& name : m_directories) {
            if (zip_dir_add(zip.get(), name.c_str(), ZIP_FL_ENC_UTF_8) < 0) {
                return false;
            }
        }
        for (Snapshot& entry : m_entries) {
            if (!addFile(zip.get(), entry)) {
                return false;
            }
        }
        // The sources are read here; an archive without entries writes no file at all.
        if (zip_close(zip.get()) != 0) {
            return false;
        }
        zip.release();  // zip_close freed it
        return true;
    }

    static bool addFile(zip_t* zip, Snapshot& entry)
    {
        zip_source_t* source = nullptr;
        if (entry.size == 0) {
            // A length of 0 would mean "to the end" to libzip, which could take in later lines.
            source = zip_source_buffer(zip, nullptr, 0, 0);
        } else {
            std::FILE* file = ::fdopen(entry.fd.get(), "rb");
            if (file == nullptr) {
                return false;
            }
            entry.fd.release();
            source = zip_source_filep(zip, file, 0, static_cast<zip_int64_t>(entry.size));
            if (source == nullptr) {
                std::fclose(file);
                return false;
            }
        }
        if (source == nullptr) {
            return false;
        }
        const zip_int64_t index = zip_file_add(zip, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            return false;
        }
        zip_file_set_mtime(zip, static_cast<zip_uint64_t>(index), entry.modified, 0);
        return true;
    }

    fs::path m_path;
    std::string m_tag;
    std::vector<std::string> m_directories;
    std::vector<Snapshot> m_entries;
};

void flushSharedAtExit()
{
    FileLogger::shared().flush();
}

// Storage for the shared logger whose destructor never runs: threads that are still working
// while the process exits may log until the very end.
union SharedStorage {
    SharedStorage() : logger(FileLogger::Options{}) { std::atexit(flushSharedAtExit); }
    ~SharedStorage() {}
    SharedStorage(const SharedStorage&) = delete;
    SharedStorage& operator=(const SharedStorage&) = delete;

    FileLogger logger;
};

}  // namespace

// State of the current file; touched only on the logger's queue.
struct FileLogger::FileState {
    UniqueFd fd;
    // Bytes of the current file as the logger accounts them, written or not.
    std::uint64_t currentSize = 0;
    // The backup stamp whose name was found taken: until the stamp changes, another rotation
    // would fail the same way, so the current file simply goes on.
    std::string takenStamp;
    // The batch being written; swapped with the pending buffers to keep their memory.
    std::string bytes;
    std::vector<std::size_t> lengths;
};

FileLogger& FileLogger::shared()
{
    static SharedStorage storage;
    return storage.logger;
}

FileLogger::FileLogger(Options options)
    : m_options(std::move(options)), m_echo(m_options.echo ? m_options.echo : stdout),
      m_file(std::make_unique<FileState>())
{
    ignoreBrokenPipeByDefault();
    openLogFile();
    m_queue = std::make_unique<SerialQueue>(std::string(kQueueLabel));
}

FileLogger::~FileLogger()
{
    // The queue's destructor runs the batches already handed over before its worker stops.
    m_queue.reset();
}

void FileLogger::log(LogLevel level, std::string_view module, std::string_view message,
                     const LogFields& fields)
{
    if (level < m_level.load(std::memory_order_relaxed)) {
        return;
    }
    thread_local std::string line;
    line.clear();
    LogLine::appendTo(line, now(), level, module, message, fields);
    std::fwrite(line.data(), 1, line.size(), m_echo);
    submit(line);
    if (line.capacity() > kKeptLineCapacity) {
        line = std::string();
    }
}

void FileLogger::debug(std::string_view module, std::string_view message, const LogFields& fields)
{
    log(LogLevel::debug, module, message, fields);
}

void FileLogger::info(std::string_view module, std::string_view message, const LogFields& fields)
{
    log(LogLevel::info, module, message, fields);
}

void FileLogger::warn(std::string_view module, std::string_view message, const LogFields& fields)
{
    log(LogLevel::warn, module, message, fields);
}

void FileLogger::error(std::string_view module, std::string_view message, const LogFields& fields)
{
    log(LogLevel::error, module, message, fields);
}

LogLevel FileLogger::level() const
{
    return m_level.load(std::memory_order_relaxed);
}

void FileLogger::setLevel(LogLevel level)
{
    m_level.store(level, std::memory_order_relaxed);
}

void FileLogger::flush()
{
    if (m_queue->isCurrent()) {
        drain();
        return;
    }
    m_queue->sync([this] { drain(); });
}

std::vector<fs::path> FileLogger::allLogFiles() const
{
    auto files = filesWithPrefix(logDir(), kFileName);
    if (!files) {
        return {};
    }
    std::reverse(files->begin(), files->end());
    return std::move(*files);
}

std::optional<fs::path> FileLogger::exportLogs(const fs::path& syncDir)
{
    const fs::path desktop = Paths::desktop();
    const fs::path zipPath = desktop / ("corvane-logs-" + localStamp(now()) + ".zip");

    // Taken on the queue after the lines handed over so far are written: every log file ends at
    // a whole line, and a rotation cannot move a file between listing and opening it.
    std::vector<Snapshot> logs;
    m_queue->sync([&] {
        drain();
        for (const fs::path& file : allLogFiles()) {
            if (auto snapshot = snapshotOf(file, "logs/" + file.filename().string())) {
                logs.push_back(std::move(*snapshot));
            }
        }
    });

    Archive archive(zipPath,
                    std::to_string(::getpid()) + "-" + std::to_string(m_exports.fetch_add(1) + 1));
    if (!logs.empty()) {
        archive.addDirectory("logs/");
    }
    for (Snapshot& snapshot : logs) {
        archive.addEntry(std::move(snapshot));
    }
    if (auto state = snapshotOf(syncDir / kStateFile, "sync_state.json")) {
        archive.addEntry(std::move(*state));
    }

    if (archive.empty()) {
        return std::nullopt;  // libzip writes no file for an empty archive: nothing to show
    }
    std::error_code error;
    fs::create_directories(desktop, error);
    if (error || !archive.write()) {
        return std::nullopt;
    }
    return zipPath;
}

fs::path FileLogger::logDir() const
{
    return m_options.logDir.empty() ? Paths::logs() : m_options.logDir;
}

fs::path FileLogger::logFilePath() const
{
    return logDir() / kFileName;
}

std::chrono::system_clock::time_point FileLogger::now() const
{
    return m_options.now ? m_options.now() : std::chrono::system_clock::now();
}

void FileLogger::submit(std::string_view line)
{
    bool schedule = false;
    {
        std::lock_guard lock(m_pendingMutex);
        m_pending.append(line);
        m_pendingLengths.push_back(line.size());
        schedule = !std::exchange(m_drainScheduled, true);
    }
    // One drain takes every line handed over until it starts, so the queue sees one work item
    // per burst rather than one per line.
    if (schedule) {
        m_queue->async([this] { drain(); });
    }
}

// Everything below runs on the queue and ignores every failure of the file system on purpose:
// logging is fire-and-forget and must never stop or slow down its callers. A line that cannot
// be written is missing from the file but still counted, so a rotation (the only retry of a
// failed open) comes after kMaxSize bytes' worth of lines; a failed move leaves the current
// file in place; a backup that cannot be listed or deleted stays.

void FileLogger::drain()
{
    {
        std::lock_guard lock(m_pendingMutex);
        std::swap(m_pending, m_file->bytes);
        std::swap(m_pendingLengths, m_file->lengths);
        m_drainScheduled = false;
    }
    writeBatch(m_file->bytes, m_file->lengths);
    m_file->bytes.clear();
    m_file->lengths.clear();
    if (m_file->bytes.capacity() > kMaxSize) {
        m_file->bytes.shrink_to_fit();
    }
}

void FileLogger::writeBatch(std::string_view bytes, const std::vector<std::size_t>& lengths)
{
    std::size_t unwritten = 0;
    std::size_t offset = 0;
    for (const std::size_t length : lengths) {
        if (m_file->currentSize + length > m_options.maxSize) {
            writeOut(bytes.substr(unwritten, offset - unwritten));
            unwritten = offset;
            rotate();  // the line that would cross the limit opens the new file
        }
        m_file->currentSize += length;
        offset += length;
    }
    writeOut(bytes.substr(unwritten, offset - unwritten));
}

void FileLogger::writeOut(std::string_view bytes)
{
    if (m_file->fd) {
        m_file->fd.writeAll(bytes);  // a failed write is dropped on purpose (see above)
    }
}

void FileLogger::openLogFile()
{
    const fs::path dir = logDir();
    createPrivateDirectories(dir);
    m_file->fd = UniqueFd(
        ::open((dir / kFileName).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    m_file->currentSize = 0;
    if (m_file->fd) {
        const off_t end = ::lseek(m_file->fd.get(), 0, SEEK_END);
        m_file->currentSize = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
}

void FileLogger::rotate()
{
    const std::string stamp = localStamp(now());
    if (m_file->fd && stamp == m_file->takenStamp) {
        return;
    }
    m_file->fd.reset();
    const fs::path file = logFilePath();
    const fs::path backup = file.string() + "." + stamp;
    if (moveWithoutReplacing(file, backup) == EEXIST) {
        m_file->takenStamp = stamp;
    }
    cleanOldBackups();
    openLogFile();
}

void FileLogger::cleanOldBackups()
{
    const auto backups = filesWithPrefix(logDir(), kBackupPrefix);
    if (!backups) {
        return;
    }
    std::error_code ignored;
    for (std::size_t i = 0; backups->size() - i > kMaxBackups; ++i) {
        fs::remove((*backups)[i], ignored);
    }
}

}  // namespace corvane
