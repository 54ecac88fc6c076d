// Throughput of the REST client against a local corvane-server:
//   1. many small uploads (init + chunk from a file) from several client threads;
//   2. a large file sent and fetched through the streaming calls, next to the curl command line
//      moving a file of the same size to and from the same server;
// and the client's peak resident memory (the server and curl run as separate processes).
//
// api_bench [--files N] [--threads T] [--large-mib M] [--skip-large] [--rounds R]
//           [--server-data DIR]
// (--server-data on a tmpfs such as /dev/shm takes the server's fsyncs out of the small uploads)

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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
#include <string>
#include <thread>
#include <vector>

#include <openssl/evp.h>

#include "API/APIClient.h"
#include "support/ServerProcess.h"
#include "support/TempHome.h"

namespace corvane::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int files = 10000;
    int threads = 4;
    std::uint64_t largeMiB = 1024;
    bool large = true;
    int rounds = 2;
    std::filesystem::path serverData;  // empty: a temporary folder on the default disk
};

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string("0"); };
        if (arg == "--files") {
            options.files = std::stoi(next());
        } else if (arg == "--threads") {
            options.threads = std::stoi(next());
        } else if (arg == "--large-mib") {
            options.largeMiB = std::stoull(next());
        } else if (arg == "--rounds") {
            options.rounds = std::max(1, std::stoi(next()));
        } else if (arg == "--server-data") {
            options.serverData = next();
        } else if (arg == "--skip-large") {
            options.large = false;
        } else {
            std::cerr << "unknown option " << arg << "\n";
            std::exit(2);
        }
    }
    return options;
}

std::string hex(const unsigned char* bytes, unsigned int length)
{
    std::ostringstream out;
    for (unsigned int i = 0; i < length; ++i) {
        out << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(bytes[i]);
    }
    return out.str();
}

// Incremental SHA-256, so a large file is hashed while it is written.
class Sha256 {
public:
    Sha256() : m_context(EVP_MD_CTX_new()) { EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr); }
    ~Sha256() { EVP_MD_CTX_free(m_context); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void add(std::string_view bytes) { EVP_DigestUpdate(m_context, bytes.data(), bytes.size()); }
    std::string finish()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context, digest, &length);
        return hex(digest, length);
    }

private:
    EVP_MD_CTX* m_context;
};

// Writes `bytes` pseudo-random bytes (different per seed) and returns their SHA-256.
std::string writeRandomFile(const std::filesystem::path& path, std::uint64_t bytes,
                            std::uint64_t seed)
{
    std::mt19937_64 engine(seed);
    std::ofstream out(path, std::ios::binary);
    Sha256 hash;
    std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, 1 << 20)), '\0');
    for (std::uint64_t written = 0; written < bytes;) {
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), bytes - written));
        for (std::size_t i = 0; i + 8 <= count; i += 8) {
            const std::uint64_t word = engine();
            std::memcpy(block.data() + i, &word, 8);
        }
        out.write(block.data(), static_cast<std::streamsize>(count));
        hash.add(std::string_view(block.data(), count));
        written += count;
    }
    if (!out.good()) {
        throw std::runtime_error("cannot write " + path.string());
    }
    return hash.finish();
}

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

double megabytesPerSecond(std::uint64_t bytes, Clock::duration duration)
{
    return static_cast<double>(bytes) / 1e6 / seconds(duration);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto toSeconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs a shell command and returns its standard output.
std::string run(const std::string& command)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        throw std::runtime_error("cannot run " + command);
    }
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) {
        output += buffer;
    }
    return output;
}

void smallUploads(const Options& options, test::ServerProcess& server, const std::string& token,
                  const std::filesystem::path& dir)
{
    APIClient client(server.baseURL());
    client.setToken(token);
    const std::string folder = client.createFolder("Small").id;

    struct File {
        std::filesystem::path path;
        std::string hash;
    };
    std::vector<File> files;
    files.reserve(static_cast<std::size_t>(options.files));
    for (int i = 0; i < options.files; ++i) {
        const auto path = dir / ("small-" + std::to_string(i) + ".bin");
        files.push_back({path, writeRandomFile(path, 4096, 1000 + static_cast<std::uint64_t>(i))});
    }

    std::atomic<std::size_t> next{0};
    std::atomic<int> failures{0};
    const auto started = Clock::now();
    const double cpuBefore = cpuSeconds();
    {
        std::vector<std::jthread> workers;
        for (int t = 0; t < options.threads; ++t) {
            workers.emplace_back([&] {
                for (std::size_t i = next++; i < files.size(); i = next++) {
                    try {
                        const UploadInitResponse answer =
                            client.uploadInit({"/" + files[i].path.filename().string(), folder,
                                               files[i].hash, 4096, 0});
                        if (answer.uploadId) {
                            client.uploadChunkFromFile(*answer.uploadId, files[i].path);
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
    std::cout << std::fixed << std::setprecision(0) << "small uploads: " << options.files
              << " files of 4 KiB, " << options.threads
              << " threads: " << options.files / seconds(elapsed) << " files/s ("
              << std::setprecision(2) << seconds(elapsed) << " s, " << failures
              << " failures; client CPU " << cpu * 1e6 / options.files << " us per file)\n";
}

// Makes the file's content new (so the server asks for it again) and returns its hash.
std::string renewContent(const std::filesystem::path& path, std::uint64_t round)
{
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.write(reinterpret_cast<const char*>(&round), sizeof round);
    }
    std::ifstream in(path, std::ios::binary);
    Sha256 hash;
    std::string block(1 << 20, '\0');
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        hash.add(std::string_view(block.data(), static_cast<std::size_t>(in.gcount())));
    }
    return hash.finish();
}

void report(const std::string& what, std::uint64_t bytes, Clock::duration client,
            Clock::duration curl)
{
    std::cout << std::fixed << std::setprecision(1) << what << ": client "
              << megabytesPerSecond(bytes, client) << " MB/s, curl "
              << megabytesPerSecond(bytes, curl) << " MB/s, client/curl " << std::setprecision(2)
              << seconds(curl) / seconds(client) << "\n";
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

    // Best of several rounds, the client and curl taking turns: the machine may be shared.
    auto clientUpload = Clock::duration::max();
    auto curlUpload = Clock::duration::max();
    auto clientDownload = Clock::duration::max();
    auto curlDownload = Clock::duration::max();
    for (int round = 1; round <= options.rounds; ++round) {
        const std::string ourHash = renewContent(ours, static_cast<std::uint64_t>(round));
        const std::string theirHash = renewContent(theirs, static_cast<std::uint64_t>(round));

        std::string uploadId = startUpload(ours, ourHash);
        auto started = Clock::now();
        client.uploadChunkFromFile(uploadId, ours);
        clientUpload = std::min(clientUpload, Clock::now() - started);

        uploadId = startUpload(theirs, theirHash);
        started = Clock::now();
        expect200(run("curl -s -o /dev/null -w '%{http_code}' -H " + auth +
                      " -H 'Expect:' -F upload_id=" + uploadId + " -F 'data=@" + theirs.string() +
                      ";filename=chunk' " + server.baseURL() + "/api/sync/upload/chunk"),
                  "curl upload");
        curlUpload = std::min(curlUpload, Clock::now() - started);

        // Downloads into files on the same disk; the client also flushes its file to disk.
        started = Clock::now();
        const std::uint64_t received = client.downloadToFile(ourHash, dir / "large-client.down");
        clientDownload = std::min(clientDownload, Clock::now() - started);
        if (received != size) {
            throw std::runtime_error("download size mismatch");
        }

        started = Clock::now();
        expect200(run("curl -s -o " + (dir / "large-curl.down").string() +
                      " -w '%{http_code}' -H " + auth + " " + server.baseURL() +
                      "/api/sync/download/" + theirHash),
                  "curl download");
        curlDownload = std::min(curlDownload, Clock::now() - started);
        std::filesystem::remove(dir / "large-client.down");
        std::filesystem::remove(dir / "large-curl.down");
    }
    const std::string size_text = std::to_string(options.largeMiB) + " MiB";
    report("large upload (" + size_text + ", best of " + std::to_string(options.rounds) + ")", size,
           clientUpload, curlUpload);
    report("large download (" + size_text + ", best of " + std::to_string(options.rounds) +
               ", client with fsync)",
           size, clientDownload, curlDownload);
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv)
{
    using namespace corvane;
    bench::Options options = bench::parse(argc, argv);
    try {
        test::TempHome home;
        test::TempDir dir;
        if (!options.serverData.empty()) {
            options.serverData /= "corvane-bench-" + std::to_string(::getpid());
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
        const std::string token = server.signIn("bench@example.com");
        if (options.files > 0) {
            bench::smallUploads(options, server, token, dir.path());
            std::cout << "client peak RSS after small uploads: "
                      << bench::peakResidentKiB() / 1024.0 << " MiB\n";
        }
        if (options.large) {
            bench::largeTransfers(options, server, token, dir.path());
        }
        std::cout << "client peak RSS: " << std::setprecision(1)
                  << bench::peakResidentKiB() / 1024.0 << " MiB\n";
    } catch (const std::exception& error) {
        std::cerr << "benchmark failed: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
