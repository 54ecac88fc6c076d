#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <zip.h>

#include "Logging/FileLogger.h"
#include "Platform/Paths.h"
#include "support/FileContents.h"
#include "support/TempHome.h"

namespace corvane::test {

// 2024-05-01T09:30:00Z.
inline constexpr std::chrono::sys_seconds kStart{std::chrono::seconds(1714555800)};

// A wall clock that stands still until advanced; with `stepPerRead` every reading moves it on
// by one second, so each rotation gets a backup name of its own.
class TestWallClock {
public:
    explicit TestWallClock(bool stepPerRead = false) : m_stepPerRead(stepPerRead) {}

    std::chrono::system_clock::time_point now()
    {
        const auto offset = m_stepPerRead ? m_seconds.fetch_add(1) : m_seconds.load();
        return kStart + std::chrono::seconds(offset);
    }
    void advance(int seconds = 1) { m_seconds += seconds; }
    FileLogger::WallClock function()
    {
        return [this] { return now(); };
    }

private:
    const bool m_stepPerRead;
    std::atomic<long long> m_seconds{0};
};

// "yyyyMMdd-HHmmss" of `time` in local time, the stamp of backups and exports.
inline std::string localStampOf(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local));
}

// Pins the local time zone to Central European time so that local stamps differ from UTC.
class PinnedTimeZone {
public:
    PinnedTimeZone()
    {
        if (const char* old = std::getenv("TZ")) {
            m_saved = old;
        }
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
    ~PinnedTimeZone()
    {
        if (m_saved) {
            setenv("TZ", m_saved->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    PinnedTimeZone(const PinnedTimeZone&) = delete;
    PinnedTimeZone& operator=(const PinnedTimeZone&) = delete;

private:
    std::optional<std::string> m_saved;
};

// The lines of `text`, each without its line feed; a last line without one is kept as it is.
inline std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// File names in `dir`, sorted.
inline std::vector<std::string> namesIn(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct ZipEntry {
    std::string name;
    std::string bytes;
    bool operator==(const ZipEntry&) const = default;
};

inline void PrintTo(const ZipEntry& entry, std::ostream* out)
{
    *out << entry.name << " (" << entry.bytes.size() << " bytes)";
}

// Every entry of the zip at `path`, in archive order, read back with libzip.
inline std::vector<ZipEntry> readZip(const std::filesystem::path& path)
{
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> zip(zip_open(path.c_str(), ZIP_RDONLY, &error),
                                                       &zip_discard);
    if (!zip) {
        ADD_FAILURE() << "cannot open zip " << path << ": error " << error;
        return {};
    }
    std::vector<ZipEntry> entries;
    const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        zip_stat_index(zip.get(), index, 0, &stat);
        std::string bytes(stat.size, '\0');
        std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(
            zip_fopen_index(zip.get(), index, 0), &zip_fclose);
        if (!file ||
            zip_fread(file.get(), bytes.data(), stat.size) != static_cast<zip_int64_t>(stat.size)) {
            ADD_FAILURE() << "cannot read entry " << stat.name << " of " << path;
        }
        entries.push_back({stat.name, std::move(bytes)});
    }
    return entries;
}

// An echo target that tests can read back.
class CapturedEcho {
public:
    CapturedEcho() : m_file(std::tmpfile(), &std::fclose) {}

    std::FILE* file() const { return m_file.get(); }
    std::string text() const
    {
        std::fflush(m_file.get());
        std::rewind(m_file.get());
        std::string text;
        char buffer[4096];
        std::size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, m_file.get())) > 0) {
            text.append(buffer, read);
        }
        std::fseek(m_file.get(), 0, SEEK_END);
        return text;
    }

private:
    std::unique_ptr<std::FILE, decltype(&std::fclose)> m_file;
};

// A temporary home, a pinned time zone and a manual clock for a logger under test. With
// `clockStepsPerRead`, every reading of the clock is a new second.
class LoggerTest : public ::testing::Test {
protected:
    explicit LoggerTest(bool clockStepsPerRead = false) : clock(clockStepsPerRead) {}

    std::unique_ptr<FileLogger> makeLogger(std::uint64_t maxSize = FileLogger::kMaxSize)
    {
        FileLogger::Options options;
        options.now = clock.function();
        options.maxSize = maxSize;
        options.echo = echo.file();
        return std::make_unique<FileLogger>(std::move(options));
    }

    std::filesystem::path logFile() const { return Paths::logs() / "corvane.log"; }
    std::filesystem::path backupAt(std::chrono::system_clock::time_point time) const
    {
        return Paths::logs() / ("corvane.log." + localStampOf(time));
    }

    TempHome home;
    PinnedTimeZone timeZone;
    TestWallClock clock;
    CapturedEcho echo;
};

}  // namespace corvane::test
