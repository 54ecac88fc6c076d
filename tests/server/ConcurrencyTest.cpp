#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ServerTestSupport.h"

namespace corvane::test {
namespace {

constexpr int kThreads = 8;
constexpr int kFilesPerThread = 8;

using ServerConcurrency = ServerTest;

TEST_F(ServerConcurrency, ParallelUploadsAllLand)
{
    const std::string docs = createFolder("Docs")["id"];
    std::atomic<int> failures{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kFilesPerThread; ++i) {
                    const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                    const auto init = uploadInit(docs, name, "content of " + name);
                    if (uploadChunk(init.value("upload_id", ""), "content of " + name).status !=
                        200) {
                        ++failures;
                    }
                }
                // Everyone also writes the same content to the same path.
                const auto init = uploadInit(docs, "shared.txt", "shared");
                if (init.value("status", "") != "exists" &&
                    uploadChunk(init.value("upload_id", ""), "shared").status != 200) {
                    ++failures;
                }
            });
        }
    }
    EXPECT_EQ(failures, 0);
    const auto tree = nlohmann::json::parse(get("/api/folders/" + docs + "/tree").body);
    EXPECT_EQ(tree["files"].size(), static_cast<std::size_t>(kThreads * kFilesPerThread + 1));
    for (const auto& file : tree["files"]) {
        if (file["name"] == "shared.txt") {
            EXPECT_EQ(file["version"], kThreads);  // every write counted once
        }
        EXPECT_EQ(get("/api/sync/download/" + file["hash"].get<std::string>()).status, 200);
    }
    const auto events = nlohmann::json::parse(get("/api/sync/events").body);
    EXPECT_EQ(events.size(), static_cast<std::size_t>(kThreads * kFilesPerThread + kThreads));
}

TEST_F(ServerConcurrency, TheCollectorNeverTakesABlobThatAnUploadRefersTo)
{
    // Uploads and deletions of a few shared contents, with collection rounds in between: an
    // upload's content is always about to be referred to, already referred to, or gone.
    const std::string docs = createFolder("Docs")["id"];
    std::atomic<int> uploadersLeft{kThreads};
    std::atomic<int> rounds{0};
    {
        std::jthread collector([&] {
            while (uploadersLeft > 0) {
                EXPECT_EQ(post("/__test/housekeeping", nlohmann::json::object()).status, 200);
                ++rounds;
            }
        });
        std::vector<std::jthread> uploaders;
        for (int t = 0; t < kThreads; ++t) {
            uploaders.emplace_back([&, t] {
                for (int i = 0; i < 4 * kFilesPerThread; ++i) {
                    const std::string content = "shared " + std::to_string(i % 3);
                    const std::string path = "t" + std::to_string(t) + "-" + std::to_string(i);
                    upload(docs, path, content);
                    const auto download = get("/api/sync/download/" + sha256Hex(content));
                    EXPECT_EQ(download.status, 200) << path;
                    EXPECT_EQ(download.body, content) << path;
                    if (i % 2 == 0) {
                        post("/api/sync/delete", {{"path", path}, {"folder_id", docs}});
                    }
                }
                --uploadersLeft;
            });
        }
    }
    EXPECT_GT(rounds, 0);
    post("/__test/housekeeping", nlohmann::json::object());
    const auto tree = nlohmann::json::parse(get("/api/folders/" + docs + "/tree").body);
    EXPECT_EQ(tree["files"].size(), static_cast<std::size_t>(kThreads * 2 * kFilesPerThread));
    for (const auto& file : tree["files"]) {
        const auto download = get("/api/sync/download/" + file["hash"].get<std::string>());
        EXPECT_EQ(download.status, 200) << file.dump();
        EXPECT_EQ(sha256Hex(download.body), file["hash"]) << file.dump();
    }
}

TEST_F(ServerConcurrency, ParallelFolderCreationMakesOneFolder)
{
    std::atomic<int> created{0};
    std::atomic<int> conflicts{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                const auto status = post("/api/folders", {{"name", "Same"}}).status;
                (status == 201 ? created : conflicts) += status == 201 || status == 409 ? 1 : 0;
            });
        }
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(conflicts, kThreads - 1);
    EXPECT_EQ(nlohmann::json::parse(get("/api/folders").body).size(), 1u);
}

TEST_F(ServerConcurrency, ParallelSignInsAndFaultsStayConsistent)
{
    m_server.injectFault({{"path_prefix", "/health"}, {"status", 500}, {"count", kThreads}});
    std::atomic<int> faulted{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                const std::string token =
                    m_server.signIn("user" + std::to_string(t) + "@example.com");
                EXPECT_EQ(getAs(token, "/api/folders").status, 200);
                faulted += httpRequest("GET", m_server.baseURL() + "/health").status == 500 ? 1 : 0;
                faulted += httpRequest("GET", m_server.baseURL() + "/health").status == 500 ? 1 : 0;
            });
        }
    }
    EXPECT_EQ(faulted, kThreads);  // the fault hit exactly count requests
}

}  // namespace
}  // namespace corvane::test
