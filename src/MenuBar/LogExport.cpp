#include "MenuBar/LogExport.h"

#include "Logging/FileLogger.h"

namespace corvane {

LogExport LogExport::of(FileLogger& logger)
{
    return LogExport{
        [&logger](const std::filesystem::path& syncDir) { return logger.exportLogs(syncDir); },
        &logger};
}

}  // namespace corvane
