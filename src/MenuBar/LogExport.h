#pragma once

#include <filesystem>
#include <functional>
#include <optional>

namespace corvane {

class FileLogger;

// What the panel's "Export Logs..." uses of the logger: the export of the log files for a sync
// folder (blocking; run off the main thread) and the logger that records a failed export.
struct LogExport {
    using Export =
        std::function<std::optional<std::filesystem::path>(const std::filesystem::path& syncDir)>;

    Export exportLogs;
    FileLogger* logger;

    // `logger`'s own export; the logger outlives every panel.
    static LogExport of(FileLogger& logger);
};

}  // namespace corvane
