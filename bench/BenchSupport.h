#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "Platform/Sha256.h"

// Small helpers shared by the benchmarks: options, order statistics, peak memory, machine load.
namespace corvane::bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

inline double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Walks the options of a benchmark's command line: `handle(option, value)` is called for each
// one, with `value()` taking the word after it, and answers whether it knew the option. A missing
// value or an unknown option ends the program with status 2.
template <typename Handler>
void parseOptions(int argc, char** argv, Handler&& handle)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&] {
            if (i + 1 >= argc) {
                std::cerr << option << " needs a value\n";
                std::exit(2);
            }
            return std::string(argv[++i]);
        };
        if (!handle(option, value)) {
            std::cerr << "unknown option " << option << "\n";
            std::exit(2);
        }
    }
}

// Runs a benchmark's main body and returns its exit status. Progress shows at once, also
// through a pipe; an exception ends the run with "benchmark failed: ..." and status 1.
template <typename Body>
int runBenchmarkMain(Body&& body)
{
    std::cout << std::unitbuf;
    try {
        return body();
    } catch (const std::exception& error) {
        std::cerr << "benchmark failed: " << error.what() << "\n";
        return 1;
    }
}

// The value below which `fraction` (0..1) of the samples lie, by the nearest-rank method.
inline double percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty()) {
        throw std::invalid_argument("percentile of no samples");
    }
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(
        std::max(0.0, std::min(1.0, fraction)) * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[rank];
}

// The middle sample, or the mean of the two middle ones.
inline double median(std::vector<double> samples)
{
    if (samples.empty()) {
        throw std::invalid_argument("median of no samples");
    }
    std::sort(samples.begin(), samples.end());
    const std::size_t half = samples.size() / 2;
    return samples.size() % 2 == 1 ? samples[half] : (samples[half - 1] + samples[half]) / 2;
}

// "a, b, c" with `precision` decimals, for printing every run next to its median.
inline std::string joined(const std::vector<double>& values, int precision)
{
    std::ostringstream out;
    out << std::fixed << std::setprecision(precision);
    for (std::size_t i = 0; i < values.size(); ++i) {
        out << (i == 0 ? "" : ", ") << values[i];
    }
    return out.str();
}

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"); -1 when it cannot be read.
inline long statusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field + ":")) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

// The process's peak resident set since the start or the last resetPeakResident().
inline long peakResidentKiB()
{
    return statusKiB("VmHWM");
}

// Starts a new peak (Linux: "5" in clear_refs sets VmHWM to the current resident set), so one
// phase's peak is not hidden by an earlier phase. False when the kernel refuses.
inline bool resetPeakResident()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

// The machine's load averages as "1.23 2.34 3.45", so every figure carries how busy the
// (shared) machine was while it was taken.
inline std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// CPU time (user + system) in `usage`.
inline double cpuSecondsOf(const rusage& usage)
{
    const auto toSeconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

// CPU time of this process, or of its waited-for children (RUSAGE_CHILDREN: curl).
inline double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return cpuSecondsOf(usage);
}

// Runs a shell command and returns its standard output.
inline std::string shellOutput(const std::string& command)
{
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        throw std::runtime_error("cannot run " + command);
    }
    std::string output;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get())) {
        output += buffer.data();
    }
    return output;
}

// Writes `bytes` pseudo-random bytes (different per seed) and returns their SHA-256. With
// `flushToDisk` the file is fsynced, so that write-back does not run into the measurement that
// follows.
inline std::string writeRandomFile(const std::filesystem::path& path, std::uint64_t bytes,
                                   std::uint64_t seed, bool flushToDisk = false)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + path.string());
    }
    const std::unique_ptr<const int, void (*)(const int*)> closer(
        &fd, [](const int* open) { ::close(*open); });
    std::mt19937_64 engine(seed);
    Sha256 hash;
    std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, 1 << 20)), '\0');
    for (std::uint64_t written = 0; written < bytes;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), bytes - written));
        for (std::size_t i = 0; i + 8 <= count; i += 8) {
            const std::uint64_t word = engine();
            std::memcpy(block.data() + i, &word, 8);
        }
        if (::write(fd, block.data(), count) != static_cast<ssize_t>(count)) {
            throw std::runtime_error("cannot write " + path.string());
        }
        hash.update(std::string_view(block.data(), count));
        written += count;
    }
    if (flushToDisk && ::fsync(fd) != 0) {
        throw std::runtime_error("cannot flush " + path.string());
    }
    return hash.finish();
}

// A scratch folder made under `parent` (empty: the temporary folder) and removed with all in it.
class ScratchDir {
public:
    explicit ScratchDir(const std::filesystem::path& parent = {})
    {
        const std::filesystem::path base =
            parent.empty() ? std::filesystem::temp_directory_path() : parent;
        std::string pattern = (base / "corvane-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot make a folder under " + base.string());
        }
        m_path = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline void printMachineNote(const char* when)
{
    std::cout << "machine (" << when << "): " << std::thread::hardware_concurrency()
              << " cores, load average " << loadAverage()
              << " (shared with other builds and tests)\n";
}

}  // namespace corvane::bench
