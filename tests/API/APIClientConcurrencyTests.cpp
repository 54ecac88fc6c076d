#include "API/APIClient.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "API/APITestSupport.h"
#include "support/ServerProcess.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

constexpr int kThreads = 8;

class APIClientConcurrencyTest : public testing::Test {
protected:
    test::TempHome home;
    test::TempDir files;
    test::ServerProcess server;
    APIClient client{server.baseURL()};
};

// Two accounts, one folder each: every request sees one token whole, so every listing is exactly
// one account's folders and nothing is ever refused, however often the token changes.
TEST_F(APIClientConcurrencyTest, TokenChangesWhileRequestsRun)
{
    const std::string tokenOne = server.signIn("one@example.com");
    const std::string tokenTwo = server.signIn("two@example.com");
    client.setToken(tokenOne);
    const std::string folderOne = client.createFolder("One").id;
    client.setToken(tokenTwo);
    const std::string folderTwo = client.createFolder("Two").id;

    std::atomic<bool> running{true};
    std::atomic<int> failures{0};
    std::atomic<int> seenOne{0};
    std::atomic<int> seenTwo{0};
    {
        std::vector<std::jthread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&] {
                for (int i = 0; i < 60; ++i) {
                    try {
                        const std::vector<Folder> folders = client.listFolders();
                        if (folders.size() == 1 && folders[0].id == folderOne) {
                            ++seenOne;
                        } else if (folders.size() == 1 && folders[0].id == folderTwo) {
                            ++seenTwo;
                        } else {
                            ++failures;
                        }
                    } catch (const std::exception&) {
                        ++failures;
                    }
                }
            });
        }
        std::jthread flipper([&] {
            bool one = true;
            while (running) {
                client.setToken(one ? tokenOne : tokenTwo);
                one = !one;
                std::this_thread::yield();
            }
        });
        for (int t = 0; t < kThreads; ++t) {
            workers[static_cast<std::size_t>(t)].join();
        }
        running = false;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(seenOne + seenTwo, kThreads * 60);
}

TEST_F(APIClientConcurrencyTest, ParallelTransfersKeepTheirBytesApart)
{
    client.setToken(server.signIn("one@example.com"));
    const std::string folder = client.createFolder("Docs").id;
    std::atomic<int> failures{0};
    {
        std::vector<std::jthread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < 6; ++i) {
                    try {
                        const std::string content =
                            test::randomBytes(static_cast<std::size_t>(20000 + 997 * (t * 10 + i)),
                                              static_cast<std::uint64_t>(t * 100 + i));
                        const std::string hash = test::sha256Hex(content);
                        const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                        const UploadInitResponse started =
                            client.uploadInit({"/" + name, folder, hash,
                                               static_cast<std::int64_t>(content.size()), 0});
                        const auto source = files.path() / (name + ".up");
                        test::writeFileContents(source, content);
                        if (i % 2 == 0) {
                            client.uploadChunk(started.uploadId.value(), content);
                        } else {
                            client.uploadChunkFromFile(started.uploadId.value(), source);
                        }
                        const auto target = files.path() / (name + ".down");
                        client.downloadToFile(hash, target);
                        if (test::fileContents(target) != content ||
                            client.download(hash) != content) {
                            ++failures;
                        }
                    } catch (const std::exception& error) {
                        ADD_FAILURE() << error.what();
                        ++failures;
                    }
                }
            });
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(client.listFiles(folder).size(), static_cast<std::size_t>(kThreads * 6));
}

}  // namespace
}  // namespace corvane
