#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Logging/LogLevel.h"
#include "Logging/LogValue.h"

namespace corvane {

class SerialQueue;

// The process-wide rotating log. Each entry becomes one line (see LogLine) that is echoed to
// standard output on the caller's thread and appended to "corvane.log" in the log folder on the
// serial queue "com.corvane.logger", which also counts the bytes and rotates: when the next line
// would take the file past 10485760 bytes, the file becomes the backup
// "corvane.log.<yyyyMMdd-HHmmss>" (local time) and a new file begins with that line; five
// backups are kept. Logging never reports a failure to its caller.
//
// Thread-safe: log(), the level helpers, level()/setLevel(), flush() and allLogFiles() may be
// called from any thread; exportLogs() from any thread but the logger's queue (the application
// calls it on the main thread).
class FileLogger {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::uint64_t kMaxSize = 10485760;
    static constexpr std::size_t kMaxBackups = 5;
    static constexpr std::string_view kQueueLabel = "com.corvane.logger";
    static constexpr std::string_view kFileName = "corvane.log";

    struct Options {
        // Empty: Paths::logs(), read afresh whenever the folder is needed.
        std::filesystem::path logDir;
        // Empty: the system clock. Gives line timestamps, backup and export stamps.
        WallClock now;
        std::uint64_t maxSize = kMaxSize;
        // Where every written line is echoed; not owned. Null: standard output.
        std::FILE* echo = nullptr;
    };

    // The one logger of the process, created on first use with the default options. It is never
    // destroyed (background work may log while the process exits); lines still queued at exit()
    // are written by an exit handler.
    static FileLogger& shared();

    // A logger of its own, for tests and benchmarks; it opens (creating) its file at once.
    // Destruction writes every line already handed over. Any logger, the shared one included,
    // sets SIGPIPE to be ignored when its disposition is still the default: an echo into a pipe
    // whose reader is gone then fails quietly instead of ending the process.
    explicit FileLogger(Options options);
    ~FileLogger();
    FileLogger(const FileLogger&) = delete;
    FileLogger& operator=(const FileLogger&) = delete;

    // Writes one entry when `level` is at least the threshold; otherwise does nothing at all.
    // Returns once the line is echoed and handed to the queue.
    void log(LogLevel level, std::string_view module, std::string_view message,
             const LogFields& fields = {});
    void debug(std::string_view module, std::string_view message, const LogFields& fields = {});
    void info(std::string_view module, std::string_view message, const LogFields& fields = {});
    void warn(std::string_view module, std::string_view message, const LogFields& fields = {});
    void error(std::string_view module, std::string_view message, const LogFields& fields = {});

    // The threshold, initially info.
    LogLevel level() const;
    void setLevel(LogLevel level);

    // Waits until every line handed over so far has been written (or has failed to be).
    void flush();

    // Full paths of "corvane.log" and its backups, newest backup first and the current file
    // last; empty when the folder cannot be listed. Reads the folder directly.
    std::vector<std::filesystem::path> allLogFiles() const;

    // Writes "corvane-logs-<yyyyMMdd-HHmmss>.zip" to the Desktop folder (created when missing):
    // "logs/<name>" for every log file, each a consistent snapshot ending at a whole line, and
    // "sync_state.json" when "<syncDir>/.corvane/sync_state.json" exists; only regular files
    // are taken. The zip appears under its name only complete and never replaces a file of
    // that name (another export in the same second). Returns its path, or nothing when it
    // could not be written or there was nothing to pack.
    std::optional<std::filesystem::path> exportLogs(const std::filesystem::path& syncDir);

private:
    struct FileState;

    std::filesystem::path logDir() const;
    std::filesystem::path logFilePath() const;
    std::chrono::system_clock::time_point now() const;
    void submit(std::string_view line);
    // Queue only.
    void drain();
    void writeBatch(std::string_view bytes, const std::vector<std::size_t>& lengths);
    void writeOut(std::string_view bytes);
    void openLogFile();
    void rotate();
    void cleanOldBackups();

    const Options m_options;
    std::FILE* const m_echo;
    std::atomic<LogLevel> m_level{LogLevel::info};
    std::atomic<std::uint64_t> m_exports{0};

    // Lines handed over but not yet taken by the queue, in submission order.
    std::mutex m_pendingMutex;
    std::string m_pending;
    std::vector<std::size_t> m_pendingLengths;
    bool m_drainScheduled = false;

    // Touched only on the queue (and while constructing).
    std::unique_ptr<FileState> m_file;
    std::unique_ptr<SerialQueue> m_queue;
};

}  // namespace corvane
