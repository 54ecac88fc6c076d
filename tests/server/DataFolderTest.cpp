#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>
#include <sys/stat.h>

#include "RawConnection.h"
#include "ServerTestSupport.h"
#include "support/FileContents.h"
#include "support/FileModes.h"
#include "support/PollUntil.h"
#include "support/TempHome.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

using Database = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;

Database openDatabase(const fs::path& file)
{
    sqlite3* raw = nullptr;
    sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    return Database(raw, sqlite3_close);
}

// The first column of every row the query gives.
std::vector<std::string> column(sqlite3* database, const std::string& sql)
{
    std::vector<std::string> values;
    sqlite3_exec(
        database, sql.c_str(),
        [](void* out, int, char** row, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(row[0] ? row[0] : "");
            return 0;
        },
        &values, nullptr);
    return values;
}

// The files under `folder` whose bytes contain `text`.
std::vector<fs::path> filesHolding(const fs::path& folder, const std::string& text)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && fileContents(entry.path()).find(text) != std::string::npos) {
            found.push_back(entry.path());
        }
    }
    return found;
}

// Every folder under `folder` (itself included) is 0700 and every file 0600.
void expectPrivate(const fs::path& folder)
{
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto expected = entry.is_directory() ? fs::perms::owner_all
                                                   : fs::perms::owner_read | fs::perms::owner_write;
        EXPECT_EQ(entry.symlink_status().permissions(), expected) << entry.path();
    }
}

std::vector<std::string> bearer(const std::string& token)
{
    return {"Authorization: Bearer " + token};
}

TEST(ServerDataFolder, EverythingTheServerCreatesIsPrivateWhateverTheUmask)
{
    std::optional<ServerProcess> server;
    {
        const ScopedUmask open(0);
        server.emplace();
    }
    const std::string token = server->signIn("ada@example.com");
    const auto folder = nlohmann::json::parse(
        httpRequest("POST", server->baseURL() + "/api/folders", R"({"name":"Docs"})",
                    {"Authorization: Bearer " + token, "Content-Type: application/json"})
            .body);
    uploadFile(server->baseURL(), token, folder["id"], "a.txt", "content");
    const fs::path data = server->dataDir();
    for (const char* name : {"corvane.db", "corvane.db-wal", "corvane.db-shm", "outbox.log"}) {
        EXPECT_TRUE(fs::exists(data / name)) << name;
    }
    EXPECT_TRUE(fs::exists(data / "blobs" / sha256Hex("content").substr(0, 2)));

    // An upload under way: its temporary file.
    const std::string content(64 * 1024, 'x');
    const auto init = nlohmann::json::parse(
        httpRequest("POST", server->baseURL() + "/api/sync/upload/init",
                    nlohmann::json{{"path", "b.bin"},
                                   {"folder_id", folder["id"]},
                                   {"hash", sha256Hex(content)},
                                   {"size", content.size()},
                                   {"base_version", 0}}
                        .dump(),
                    {"Authorization: Bearer " + token, "Content-Type: application/json"})
            .body);
    const std::string body = multipartBody("B", init["upload_id"], content);
    RawConnection connection(server->port());
    connection.send("POST /api/sync/upload/chunk HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                    token +
                    "\r\nContent-Type: multipart/form-data; boundary=B\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, body.size() / 2));
    test::pollUntil([&] { return !fs::is_empty(data / "tmp"); });
    ASSERT_FALSE(fs::is_empty(data / "tmp"));
    expectPrivate(data);
}

TEST(ServerDataFolder, WhatAnEarlierRunLeftOpenIsTightened)
{
    const TempDir dir;
    const fs::path data = dir.path() / "data";
    {
        ServerProcess first(ServerOptions{.dataDir = data});
        first.signIn("ada@example.com");
    }
    const fs::path blob = data / "blobs" / "ab" / std::string(64, 'a');
    fs::create_directories(blob.parent_path());
    std::ofstream(blob) << "old";
    for (const auto& entry : fs::recursive_directory_iterator(data)) {
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms::all : fs::perms(0644),
                        fs::perm_options::replace);
    }
    fs::permissions(data, fs::perms(0755), fs::perm_options::replace);

    const ServerProcess second(ServerOptions{.dataDir = data});
    expectPrivate(data);
}

TEST(ServerDataFolder, TheDatabaseHoldsTokensOnlyAsDigests)
{
    ServerProcess server;
    const std::string token = server.signIn("ada@example.com");
    EXPECT_EQ(httpRequest("GET", server.baseURL() + "/api/folders", {}, bearer(token)).status, 200);
    EXPECT_EQ(filesHolding(server.dataDir(), token), std::vector<fs::path>{});

    // A copy of the database signs nobody in.
    const auto database = openDatabase(server.dataDir() / "corvane.db");
    const auto stored = column(database.get(), "SELECT digest FROM tokens");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0], sha256Hex(token));
    EXPECT_EQ(httpRequest("GET", server.baseURL() + "/api/folders", {}, bearer(stored[0])).status,
              401);
}

TEST(ServerDataFolder, ClearTokensOfAnEarlierDatabaseKeepWorkingAsDigests)
{
    const TempDir dir;
    const fs::path data = dir.path() / "data";
    fs::create_directories(data);
    const std::string token(64, 'c');
    {
        // The tables as an earlier version of the server left them.
        const auto database = openDatabase(data / "corvane.db");
        const std::string sql =
            "PRAGMA journal_mode=WAL;"
            "CREATE TABLE users (id TEXT PRIMARY KEY, email_key TEXT NOT NULL UNIQUE, "
            "email TEXT NOT NULL, name TEXT NOT NULL, created_at TEXT NOT NULL);"
            "CREATE TABLE tokens (token TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES "
            "users(id), created_at TEXT NOT NULL);"
            "INSERT INTO users VALUES ('u1', 'ada@example.com', 'ada@example.com', 'ada', "
            "'2024-05-01T12:00:00Z');"
            "INSERT INTO tokens VALUES ('" +
            token + "', 'u1', '2024-05-01T12:00:00Z');";
        ASSERT_EQ(sqlite3_exec(database.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ServerProcess server(ServerOptions{.dataDir = data});
    EXPECT_EQ(httpRequest("GET", server.baseURL() + "/api/folders", {}, bearer(token)).status, 200);
    EXPECT_EQ(filesHolding(data, token), std::vector<fs::path>{});
    const auto database = openDatabase(data / "corvane.db");
    EXPECT_EQ(column(database.get(), "SELECT digest FROM tokens"),
              std::vector<std::string>{sha256Hex(token)});
    // A new sign-in goes on working beside it, also after a restart.
    const std::string fresh = server.signIn("ada@example.com");
    server.restart();
    for (const auto& each : {token, fresh}) {
        EXPECT_EQ(httpRequest("GET", server.baseURL() + "/api/folders", {}, bearer(each)).status,
                  200);
    }
}

}  // namespace
}  // namespace corvane::test
