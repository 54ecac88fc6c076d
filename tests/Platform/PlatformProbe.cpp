// A second process for the cross-process tests of the settings suites and the notification
// center. It inherits the test's home folder and bus address. Commands:
//   wait-string <suite> <key> <expected> <timeout-ms>   prints "seen" once the suite holds it
//   set-string <suite> <key> <value>                    writes and exits
//   observe <name> <count> <timeout-ms>                 prints "ready", then "got <name> k=v..."
//   post <name> [key=value]...                          posts once and exits
// <suite> is "standard" or a suite name.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "Platform/DistributedNotificationCenter.h"
#include "Platform/MainQueue.h"
#include "Platform/UserDefaults.h"

namespace {

using namespace corvane;

std::shared_ptr<UserDefaults> openSuite(const std::string& name)
{
    return name == "standard" ? UserDefaults::standard() : UserDefaults::suite(name);
}

int waitString(const std::string& suite, const std::string& key, const std::string& expected,
               int timeoutMs)
{
    const auto defaults = openSuite(suite);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::printf("ready\n");
    std::fflush(stdout);
    while (std::chrono::steady_clock::now() < deadline) {
        if (defaults->string(key) == expected) {
            std::printf("seen\n");
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::printf("timeout %s\n", defaults->string(key).value_or("<absent>").c_str());
    return 1;
}

int observe(const std::string& name, int count, int timeoutMs)
{
    RunLoop loop;
    DistributedNotificationCenter center;
    int received = 0;
    const auto observation = center.observe(
        name, [&](const std::string& got, const DistributedNotificationCenter::UserInfo& info) {
            std::string line = "got " + got;
            for (const auto& [key, value] : info) {
                line += " " + key + "=" + value;
            }
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
            ++received;
        });
    std::printf(center.isConnected() ? "ready\n" : "no-bus\n");
    std::fflush(stdout);
    const bool done =
        loop.runUntil([&] { return received >= count; }, std::chrono::milliseconds(timeoutMs));
    return done ? 0 : 1;
}

int post(const std::string& name, int argc, char** argv, int first)
{
    DistributedNotificationCenter center;
    DistributedNotificationCenter::UserInfo info;
    for (int i = first; i < argc; ++i) {
        const std::string pair = argv[i];
        const auto equals = pair.find('=');
        info[pair.substr(0, equals)] = equals == std::string::npos ? "" : pair.substr(equals + 1);
    }
    center.post(name, info);
    return center.isConnected() ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "wait-string" && argc == 6) {
        return waitString(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    }
    if (command == "set-string" && argc == 5) {
        openSuite(argv[2])->setString(argv[3], argv[4]);
        UserDefaults::resetShared();
        return 0;
    }
    if (command == "observe" && argc == 5) {
        return observe(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    if (command == "post" && argc >= 3) {
        return post(argv[2], argc, argv, 3);
    }
    std::fprintf(stderr, "usage: platform_probe <command> ...\n");
    return 64;
}
