// Cost and throughput of FileLogger, with its folder under a temporary XDG_STATE_HOME:
//   1. the time one log() call takes on the caller's thread (each call timed on its own, one
//      thread logging while the logger's queue writes): median and tail, in ns; once with a bare
//      message and once with two fields built at the call site, as callers write them;
//   2. lines per second reaching the file from several threads logging at once: the clock runs
//      from the start until flush() has returned, and the file's lines are counted afterwards.
// Each line is also echoed, as the logger always does; the echo goes to /dev/null through stdio
// (fully buffered, as standard output is when it is not a terminal), or with --echo-file to a
// file in the temporary folder.
//
// log_bench [--calls N] [--threads T] [--lines L] [--rounds R] [--echo-file]

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Logging/FileLogger.h"
#include "Platform/Paths.h"
#include "support/TempHome.h"

namespace corvane::bench {
namespace {

constexpr double kGoalCallNanoseconds = 2000;
constexpr double kGoalLinesPerSecond = 300000;
constexpr int kWarmUpCalls = 20000;

struct Options {
    int calls = 200000;  // timed calls per variant and round
    int threads = 8;
    int lines = 50000;  // per thread and round
    int rounds = 3;
    bool echoToFile = false;
};

Options parse(int argc, char** argv)
{
    Options options;
    parseOptions(argc, argv, [&](const std::string& option, const auto& value) {
        if (option == "--calls") {
            options.calls = std::max(1, std::stoi(value()));
        } else if (option == "--threads") {
            options.threads = std::max(1, std::stoi(value()));
        } else if (option == "--lines") {
            options.lines = std::max(1, std::stoi(value()));
        } else if (option == "--rounds") {
            options.rounds = std::max(1, std::stoi(value()));
        } else if (option == "--echo-file") {
            options.echoToFile = true;
        } else {
            return false;
        }
        return true;
    });
    return options;
}

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, CloseFile>;

// One round's logger: a fresh temporary home (so XDG_STATE_HOME and with it the log folder are
// new and empty) and its own echo target. The logger is destroyed first, writing what is left.
class LoggerUnderTest {
public:
    explicit LoggerUnderTest(bool echoToFile)
        : m_echo(std::fopen(echoToFile ? (m_home.path() / "echo.log").c_str() : "/dev/null", "w"))
    {
        if (!m_echo) {
            throw std::runtime_error("cannot open the echo target");
        }
        FileLogger::Options options;  // empty folder: Paths::logs(), under XDG_STATE_HOME
        options.echo = m_echo.get();
        m_logger = std::make_unique<FileLogger>(std::move(options));
    }
    LoggerUnderTest(const LoggerUnderTest&) = delete;
    LoggerUnderTest& operator=(const LoggerUnderTest&) = delete;

    FileLogger& logger() { return *m_logger; }

    // Lines in the log file and its backups, or -1 when a backup may have been deleted.
    long long linesOnDisk() const
    {
        const auto files = m_logger->allLogFiles();
        if (files.size() > FileLogger::kMaxBackups) {
            return -1;
        }
        long long lines = 0;
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            std::string block(1 << 20, '\0');
            while (in.read(block.data(), static_cast<std::streamsize>(block.size())) ||
                   in.gcount() > 0) {
                lines += std::count(block.begin(), block.begin() + in.gcount(), '\n');
            }
        }
        return lines;
    }

private:
    // Destroyed in reverse: the logger writes what is left, then the echo closes, then the home
    // and its folders go.
    test::TempHome m_home;
    FileHandle m_echo;
    std::unique_ptr<FileLogger> m_logger;
};

// The median cost of an empty pair of clock readings, to judge the per-call figures by.
double clockOverheadNanoseconds()
{
    std::vector<double> samples;
    for (int i = 0; i < 100000; ++i) {
        const auto before = Clock::now();
        const auto after = Clock::now();
        samples.push_back(std::chrono::duration<double, std::nano>(after - before).count());
    }
    return median(samples);
}

struct CallFigures {
    double p50 = 0;
    double p90 = 0;
    double p99 = 0;
    double mean = 0;
};

// Times `call(i)` one call at a time on this thread.
template <typename Call>
CallFigures timeCalls(int calls, Call&& call)
{
    for (int i = 0; i < kWarmUpCalls; ++i) {
        call(i);
    }
    std::vector<double> samples(static_cast<std::size_t>(calls));
    const auto started = Clock::now();
    for (int i = 0; i < calls; ++i) {
        const auto before = Clock::now();
        call(i);
        const auto after = Clock::now();
        samples[static_cast<std::size_t>(i)] =
            std::chrono::duration<double, std::nano>(after - before).count();
    }
    const double total = std::chrono::duration<double, std::nano>(Clock::now() - started).count();
    return {percentile(samples, 0.5), percentile(samples, 0.9), percentile(samples, 0.99),
            total / calls};
}

void callCost(const Options& options)
{
    std::cout << "log() on the caller's thread, " << options.calls
              << " calls per round timed one by one (clock overhead " << std::fixed
              << std::setprecision(0) << clockOverheadNanoseconds() << " ns per call, included):\n";
    const std::string path = "/Documents/Reports/quarterly-report.pdf";
    struct Variant {
        const char* name;
        std::vector<double> medians;
    };
    Variant bare{"message only", {}};
    Variant withFields{"message + path and size fields", {}};
    for (int round = 1; round <= options.rounds; ++round) {
        {
            LoggerUnderTest subject(options.echoToFile);
            FileLogger& logger = subject.logger();
            const CallFigures figures =
                timeCalls(options.calls, [&](int) { logger.info("sync", "Full sync finished"); });
            bare.medians.push_back(figures.p50);
            std::cout << "  round " << round << ", " << bare.name << ": p50 " << figures.p50
                      << " ns, p90 " << figures.p90 << ", p99 " << figures.p99 << ", mean "
                      << figures.mean << "\n";
        }
        {
            LoggerUnderTest subject(options.echoToFile);
            FileLogger& logger = subject.logger();
            const CallFigures figures = timeCalls(options.calls, [&](int i) {
                logger.info("sync", "File uploaded", {{"path", path}, {"size", i}});
            });
            withFields.medians.push_back(figures.p50);
            std::cout << "  round " << round << ", " << withFields.name << ": p50 " << figures.p50
                      << " ns, p90 " << figures.p90 << ", p99 " << figures.p99 << ", mean "
                      << figures.mean << "\n";
        }
    }
    for (const Variant* variant : {&bare, &withFields}) {
        std::cout << "log() call, " << variant->name << ": median " << median(variant->medians)
                  << " ns over " << variant->medians.size() << " rounds ("
                  << joined(variant->medians, 0) << "; goal < " << kGoalCallNanoseconds << " ns)\n";
    }
}

void throughput(const Options& options)
{
    const long long total = static_cast<long long>(options.threads) * options.lines;
    std::cout << "lines reaching the file: " << options.threads << " threads x " << options.lines
              << " lines per round, timed until flush() returns:\n";
    std::vector<double> rates;
    for (int round = 1; round <= options.rounds; ++round) {
        LoggerUnderTest subject(options.echoToFile);
        FileLogger& logger = subject.logger();
        std::barrier start(options.threads + 1);
        Clock::time_point started;
        {
            std::vector<std::jthread> threads;
            for (int t = 0; t < options.threads; ++t) {
                threads.emplace_back([&, t] {
                    start.arrive_and_wait();
                    for (int i = 0; i < options.lines; ++i) {
                        logger.info(
                            "sync", "File uploaded",
                            {{"path", "/Documents/report.pdf"}, {"size", i}, {"thread", t}});
                    }
                });
            }
            start.arrive_and_wait();
            started = Clock::now();
        }
        logger.flush();
        const auto elapsed = Clock::now() - started;
        const double rate = static_cast<double>(total) / seconds(elapsed);
        const long long onDisk = subject.linesOnDisk();
        rates.push_back(rate);
        std::cout << std::fixed << std::setprecision(0) << "  round " << round << ": " << rate
                  << " lines/s (" << std::setprecision(3) << seconds(elapsed) << " s; "
                  << logger.allLogFiles().size() << " files, "
                  << (onDisk < 0 ? std::string("backups were deleted, lines not counted")
                                 : std::to_string(onDisk) + " lines on disk")
                  << ")\n";
        if (onDisk >= 0 && onDisk != total) {
            throw std::runtime_error("lines were lost: " + std::to_string(onDisk) + " of " +
                                     std::to_string(total));
        }
    }
    std::cout << std::fixed << std::setprecision(0) << "lines per second from " << options.threads
              << " threads: median " << median(rates) << " over " << rates.size() << " rounds ("
              << joined(rates, 0) << "; goal >= " << kGoalLinesPerSecond << ")\n";
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv)
{
    using namespace corvane;
    return bench::runBenchmarkMain([&] {
        const bench::Options options = bench::parse(argc, argv);
        bench::printMachineNote("start");
        bench::callCost(options);
        bench::throughput(options);
        bench::printMachineNote("end");
        return 0;
    });
}
