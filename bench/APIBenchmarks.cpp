// Throughput of the REST client against a local corvane-server:
//   1. many small uploads (init + chunk from a file) from several client threads: files/s;
//   2. a large file sent and fetched through the streaming calls (uploadChunkFromFile,
//      downloadToFile), next to the curl command line moving a file of the same size to and from
//      the same server with the same multipart request and a plain GET: MB/s and the ratio;
// and the client's peak resident memory per phase (the server and curl are other processes).
// Every figure is taken over several rounds; the median is the headline, each round is shown.
//
// api_bench [--files N] [--threads T] [--large-mib M] [--skip-large] [--rounds R]
//           [--server-data DIR] [--client-data DIR]
// --server-data on a tmpfs such as /dev/shm takes the server's fsyncs out of the figures;
// --client-data there takes the disk out of the client's side (the download's fsync).

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
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

#include "API/APIClient.h"
#include "BenchServer.h"
#include "BenchSupport.h"
#include "Platform/Sha256.h"
#include "Sync/ContentHash.h"
#include "support/TempHome.h"

namespace corvane::bench {
namespace {

constexpr double kGoalFilesPerSecond = 1000;
constexpr double kGoalUploadShareOfCurl = 0.8;
constexpr double kGoalDownloadShareOfCurl = 0.9;
constexpr double kGoalPeakMiB = 64;
constexpr std::uint64_t kSmallFileBytes = 4096;

struct Options {
    int files = 10000;
    int threads = 4;
    std::uint64_t largeMiB = 1024;
    bool large = true;
    int rounds = 3;
    std::filesystem::path serverData;  // empty: a temporary folder on the default disk
    std::filesystem::path clientData;  // empty: the temporary folder
};

Options parse(int argc, char** argv)
{
    Options options;
    parseOptions(argc, argv, [&](const std::string& option, const auto& value) {
        if (option == "--files") {
            options.files = std::stoi(value());
        } else if (option == "--threads") {
            options.threads = std::max(1, std::stoi(value()));
        } else if (option == "--large-mib") {
            options.largeMiB = std::stoull(value());
        } else if (option == "--rounds") {
            options.rounds = std::max(1, std::stoi(value()));
        } else if (option == "--server-data") {
            options.serverData = value();
        } else if (option == "--client-data") {
            options.clientData = value();
        } else if (option == "--skip-large") {
            options.large = false;
        } else {
            return false;
        }
        return true;
    });
    return options;
}

double megabytesPerSecond(std::uint64_t bytes, Clock::duration duration)
{
    return static_cast<double>(bytes) / 1e6 / seconds(duration);
}

void printPeak(const char* phase, bool reset)
{
    std::cout << std::fixed << std::setprecision(1) << "client peak RSS during " << phase << ": "
              << static_cast<double>(peakResidentKiB()) / 1024.0 << " MiB"
              << (reset ? "" : " (since the start: the kernel refused a reset)") << " (goal < "
              << kGoalPeakMiB << " MiB)\n";
}

// One round of small uploads: every file is new content, so each one takes init + chunk.
double smallUploadRound(const Options& options, APIClient& client, const std::string& folder,
                        const std::filesystem::path& dir, int round)
{
    struct File {
        std::filesystem::path path;
        std::string name;
        std::string hash;
    };
    std::vector<File> files;
    files.reserve(static_cast<std::size_t>(options.files));
    for (int i = 0; i < options.files; ++i) {
        const std::string name = "r" + std::to_string(round) + "-" + std::to_string(i) + ".bin";
        const std::uint64_t seed =
            static_cast<std::uint64_t>(round) * 1'000'000'000 + static_cast<std::uint64_t>(i);
        files.push_back({dir / name, name, writeRandomFile(dir / name, kSmallFileBytes, seed)});
    }

    std::atomic<std::size_t> next{0};
    std::atomic<int> failures{0};
    std::atomic<int> notAsked{0};
    const double cpuBefore = cpuSeconds();
    const auto started = Clock::now();
    {
        std::vector<std::jthread> workers;
        for (int t = 0; t < options.threads; ++t) {
            workers.emplace_back([&] {
                for (std::size_t i = next++; i < files.size(); i = next++) {
                    try {
                        const UploadInitResponse answer =
                            client.uploadInit({"/" + files[i].name, folder, files[i].hash,
                                               static_cast<std::int64_t>(kSmallFileBytes), 0});
                        if (answer.uploadId) {
                            client.uploadChunkFromFile(*answer.uploadId, files[i].path);
                        } else {
                            ++notAsked;
                        }
                    } catch (const std::exception& error) {
                        if (failures++ == 0) {
                            std::cerr << "upload failed: " << error.what() << "\n";
                        }
                    }
                }
            });
        }
    }
    const auto elapsed = Clock::now() - started;
    const double cpu = cpuSeconds() - cpuBefore;
    const double rate = options.files / seconds(elapsed);
    std::cout << std::fixed << std::setprecision(0) << "  round " << round << ": " << rate
              << " files/s (" << std::setprecision(2) << seconds(elapsed) << " s, " << failures
              << " failures, " << notAsked << " without chunk; client CPU " << std::setprecision(0)
              << cpu * 1e6 / options.files << " us per file)\n";
    for (const File& file : files) {
        std::filesystem::remove(file.path);
    }
    if (failures > 0 || notAsked > 0) {
        throw std::runtime_error("small uploads did not all go through init + chunk");
    }
    return rate;
}

void smallUploads(const Options& options, test::ServerProcess& server, const std::string& token,
                  const std::filesystem::path& dir)
{
    APIClient client(server.baseURL());
    client.setToken(token);
    const std::string folder = client.createFolder("Small").id;
    const bool reset = resetPeakResident();
    std::cout << "small uploads: " << options.files << " files of 4 KiB, " << options.threads
              << " client threads, one APIClient\n";
    std::vector<double> rates;
    for (int round = 1; round <= options.rounds; ++round) {
        rates.push_back(smallUploadRound(options, client, folder, dir, round));
    }
    std::cout << std::fixed << std::setprecision(0) << "small uploads: median " << median(rates)
              << " files/s over " << rates.size() << " rounds (" << joined(rates, 0)
              << "; goal >= " << kGoalFilesPerSecond << ")\n";
    printPeak("small uploads", reset);
}

// Makes the file's content new (so the server asks for it again) and returns its hash.
std::string renewContent(const std::filesystem::path& path, std::uint64_t round)
{
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.write(reinterpret_cast<const char*>(&round), sizeof round);
    }
    return hashFile(path);
}

// One timed transfer: wall time and the CPU time its side (client or curl) spent.
struct Leg {
    Clock::duration elapsed{};
    double cpu = 0;
};

// Runs `transfer` and takes its time and the CPU time of `who` (RUSAGE_SELF or _CHILDREN).
template <typename Transfer>
Leg timed(int who, Transfer&& transfer)
{
    const double cpuBefore = cpuSeconds(who);
    const auto started = Clock::now();
    transfer();
    const auto elapsed = Clock::now() - started;
    return {elapsed, cpuSeconds(who) - cpuBefore};
}

struct LegFigures {
    std::vector<double> client;  // MB/s per round
    std::vector<double> curl;
    std::vector<double> clientCpu;  // CPU seconds per GB moved
    std::vector<double> curlCpu;

    void add(bool isClient, std::uint64_t bytes, const Leg& leg)
    {
        (isClient ? client : curl).push_back(megabytesPerSecond(bytes, leg.elapsed));
        (isClient ? clientCpu : curlCpu).push_back(leg.cpu / (static_cast<double>(bytes) / 1e9));
    }

    void report(const std::string& what, double goalShareOfCurl) const
    {
        const double ours = median(client);
        const double theirs = median(curl);
        std::cout << std::fixed << std::setprecision(1) << what << ": client median " << ours
                  << " MB/s (" << joined(client, 1) << "), curl median " << theirs << " MB/s ("
                  << joined(curl, 1) << "), client/curl " << std::setprecision(2) << ours / theirs
                  << " (goal >= " << goalShareOfCurl << "); CPU per GB: client "
                  << median(clientCpu) << " s, curl " << median(curlCpu) << " s\n";
    }
};

// CPU seconds that SHA-256 takes per GB here, from 4 MiB in memory hashed 128 times.
double sha256SecondsPerGB()
{
    const std::string block(4 * 1024 * 1024, '\x5a');
    constexpr int kTimes = 128;
    const double before = cpuSeconds();
    for (int i = 0; i < kTimes; ++i) {
        Sha256 hash;
        hash.update(block);
        static_cast<void>(hash.finish());
    }
    return (cpuSeconds() - before) / (static_cast<double>(block.size()) * kTimes / 1e9);
}

void largeTransfers(const Options& options, test::ServerProcess& server, const std::string& token,
                    const std::filesystem::path& dir)
{
    APIClient client(server.baseURL());
    client.setToken(token);
    const std::string folder = client.createFolder("Large").id;
    const std::uint64_t size = options.largeMiB * 1024 * 1024;
    const auto ours = dir / "large-client.bin";
    const auto theirs = dir / "large-curl.bin";
    const auto ourCopy = dir / "large-client.down";
    const auto theirCopy = dir / "large-curl.down";
    std::cout << "writing two files of " << options.largeMiB << " MiB...\n";
    writeRandomFile(ours, size, 1);
    writeRandomFile(theirs, size, 2);

    const auto startUpload = [&](const std::filesystem::path& file, const std::string& hash) {
        const UploadInitResponse answer = client.uploadInit(
            {"/" + file.filename().string(), folder, hash, static_cast<std::int64_t>(size), 0});
        if (!answer.uploadId) {
            throw std::runtime_error("the server did not ask for the content");
        }
        return *answer.uploadId;
    };
    const std::string auth = "'Authorization: Bearer " + token + "'";
    const auto expect200 = [](const std::string& status, const char* what) {
        if (status != "200") {
            throw std::runtime_error(std::string(what) + " answered " + status);
        }
    };
    // The server keeps every blob; each is removed once fetched so that the rounds do not fill
    // the disk (or the tmpfs) with gigabytes. Blobs live at <data>/blobs/<2 hex>/<hash>.
    const auto dropBlob = [&](const std::string& hash) {
        if (!std::filesystem::remove(server.dataDir() / "blobs" / hash.substr(0, 2) / hash)) {
            std::cerr << "warning: no blob file for " << hash << " to remove\n";
        }
    };

    const auto clientUpload = [&](const std::string& hash) {
        const std::string uploadId = startUpload(ours, hash);
        return timed(RUSAGE_SELF, [&] { client.uploadChunkFromFile(uploadId, ours); });
    };
    // The same multipart form as the client's: an "upload_id" field, then the file as "data".
    const auto curlUpload = [&](const std::string& hash) {
        const std::string uploadId = startUpload(theirs, hash);
        return timed(RUSAGE_CHILDREN, [&] {
            expect200(shellOutput("curl -s -o /dev/null -w '%{http_code}' -H " + auth +
                                  " -H 'Expect:' -F upload_id=" + uploadId + " -F 'data=@" +
                                  theirs.string() +
                                  ";filename=chunk;type=application/octet-stream' " +
                                  server.baseURL() + "/api/sync/upload/chunk"),
                      "curl upload");
        });
    };
    // downloadToFile ends with fsync; curl's copy is synced the same way (coreutils' sync FILE
    // calls fsync) inside the timed command, so both measure content durably on disk. The
    // client's call is the sync engine's: it hashes the bytes as they arrive, which curl does
    // not (the goal allows for that: curl's CPU plus the hashing's).
    const auto clientDownload = [&](const std::string& hash) {
        std::uint64_t received = 0;
        std::string received256;
        const Leg leg = timed(
            RUSAGE_SELF, [&] { received = client.downloadToFile(hash, ourCopy, received256); });
        if (received != size || received256 != hash) {
            throw std::runtime_error("download size or hash mismatch");
        }
        std::filesystem::remove(ourCopy);
        dropBlob(hash);
        return leg;
    };
    const auto curlDownload = [&](const std::string& hash) {
        const Leg leg = timed(RUSAGE_CHILDREN, [&] {
            expect200(shellOutput("curl -s -o " + theirCopy.string() + " -w '%{http_code}' -H " +
                                  auth + " " + server.baseURL() + "/api/sync/download/" + hash +
                                  " && sync " + theirCopy.string()),
                      "curl download");
        });
        if (std::filesystem::file_size(theirCopy) != size) {
            throw std::runtime_error("curl download size mismatch");
        }
        std::filesystem::remove(theirCopy);
        dropBlob(hash);
        return leg;
    };

    const bool reset = resetPeakResident();
    LegFigures uploads;
    LegFigures downloads;
    for (int round = 1; round <= options.rounds; ++round) {
        const std::string ourHash = renewContent(ours, static_cast<std::uint64_t>(round));
        const std::string theirHash = renewContent(theirs, static_cast<std::uint64_t>(round));
        // Turns alternate, so neither side always runs first on a machine that others share.
        const bool clientFirst = round % 2 == 1;
        for (int turn = 0; turn < 2; ++turn) {
            const bool isClient = (turn == 0) == clientFirst;
            uploads.add(isClient, size, isClient ? clientUpload(ourHash) : curlUpload(theirHash));
        }
        for (int turn = 0; turn < 2; ++turn) {
            const bool isClient = (turn == 0) == clientFirst;
            downloads.add(isClient, size,
                          isClient ? clientDownload(ourHash) : curlDownload(theirHash));
        }
        std::cout << std::fixed << std::setprecision(1) << "  round " << round << ": upload client "
                  << uploads.client.back() << " / curl " << uploads.curl.back()
                  << " MB/s, download client " << downloads.client.back() << " / curl "
                  << downloads.curl.back() << " MB/s\n";
    }
    const std::string sizeText = std::to_string(options.largeMiB) + " MiB";
    const std::string rounds = std::to_string(options.rounds) + " rounds";
    uploads.report("large upload (" + sizeText + ", " + rounds + ")", kGoalUploadShareOfCurl);
    downloads.report("large download (" + sizeText + ", " + rounds +
                         ", both with fsync, the client hashing as well)",
                     kGoalDownloadShareOfCurl);
    const double hashing = sha256SecondsPerGB();
    std::cout << std::fixed << std::setprecision(2) << "SHA-256 on this machine: " << hashing
              << " s of CPU per GB; download goal: client CPU per GB <= curl's "
              << median(downloads.curlCpu) << " + " << hashing << " = "
              << median(downloads.curlCpu) + hashing
              << " s (client: " << median(downloads.clientCpu) << " s)\n";
    printPeak("large transfers", reset);
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv)
{
    using namespace corvane;
    return bench::runBenchmarkMain([&] {
        const bench::Options options = bench::parse(argc, argv);
        const test::TempHome home;
        const bench::ScratchDir clientDir(options.clientData);
        bench::BenchServer benchServer(options.serverData);
        test::ServerProcess& server = benchServer.process();
        std::cout << "server data: " << server.dataDir().string()
                  << ", client data: " << clientDir.path().string() << "\n";
        bench::printMachineNote("start");
        const std::string token = server.signIn("bench@example.com");
        if (options.files > 0) {
            bench::smallUploads(options, server, token, clientDir.path());
        }
        if (options.large) {
            bench::largeTransfers(options, server, token, clientDir.path());
        }
        bench::printMachineNote("end");
        return 0;
    });
}
