#include "API/APIClient.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "API/APIError.h"
#include "API/APITestSupport.h"
#include "API/ContentChangedError.h"
#include "API/TransportError.h"
#include "Models/DecodingError.h"
#include "Platform/Error.h"
#include "support/ServerProcess.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using test::expectAPIError;
using Kind = APIError::Kind;

const std::string kEmail = "ada@example.com";

class APIClientTest : public testing::Test {
protected:
    void signIn() { client.setToken(server.signIn(kEmail)); }

    std::string lastTarget() const { return server.lastRequest().at("target"); }

    nlohmann::json lastHeaders() const { return server.lastRequest().at("headers"); }

    // A fault on every request whose path starts with `prefix`.
    void fault(const std::string& prefix, nlohmann::json details)
    {
        details["path_prefix"] = prefix;
        server.injectFault(details);
    }

    // Starts an upload of `content` into a fresh folder and returns its upload id.
    std::string startUpload(const std::string& content, const std::string& path = "/a.bin")
    {
        const Folder folder = client.createFolder("Uploads" + std::to_string(++m_folders));
        const UploadInitResponse answer =
            client.uploadInit({path, folder.id, test::sha256Hex(content),
                               static_cast<std::int64_t>(content.size()), 0});
        EXPECT_EQ(answer.status, "pending");
        return answer.uploadId.value_or("");
    }

    test::TempHome home;
    test::TempDir files;
    test::ServerProcess server;
    APIClient client{server.baseURL()};

private:
    int m_folders = 0;
};

TEST_F(APIClientTest, SignInWithCode)
{
    client.sendCode(kEmail);
    const std::string code = server.latestCode(kEmail);
    EXPECT_EQ(server.lastRequest().at("body"), R"({"email":"ada@example.com"})");
    const VerifyResponse answer = client.verify(kEmail, code);
    EXPECT_FALSE(answer.token.empty());
    EXPECT_EQ(answer.user.email, kEmail);
    EXPECT_EQ(nlohmann::json::parse(std::string(server.lastRequest().at("body"))),
              (nlohmann::json{{"email", kEmail}, {"code", code}}));

    client.setToken(answer.token);
    EXPECT_NO_THROW(client.listFolders());
}

TEST_F(APIClientTest, WrongCodeIsUnauthorizedNotTheServerText)
{
    client.sendCode(kEmail);
    const std::string code = server.latestCode(kEmail);
    const std::string wrong = code == "000000" ? "111111" : "000000";
    expectAPIError([&] { client.verify(kEmail, wrong); }, Kind::unauthorized,
                   "Session expired, please log in again");
}

TEST_F(APIClientTest, FoldersCreateListAndTree)
{
    signIn();
    const Folder docs = client.createFolder("Docs");
    EXPECT_EQ(server.lastRequest().at("body"), R"({"name":"Docs"})");
    EXPECT_EQ(docs.name, "Docs");
    EXPECT_EQ(docs.path, "/Docs");
    EXPECT_FALSE(docs.parentId.has_value());

    const Folder sub = client.createFolder("Sub", docs.id);
    EXPECT_EQ(nlohmann::json::parse(std::string(server.lastRequest().at("body"))),
              (nlohmann::json{{"name", "Sub"}, {"parent_id", docs.id}}));
    EXPECT_EQ(sub.parentId, docs.id);

    const std::vector<Folder> top = client.listFolders();
    EXPECT_EQ(lastTarget(), "/api/folders");
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].id, docs.id);

    const std::vector<Folder> children = client.listFolders(docs.id);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].id, sub.id);

    const FolderTree tree = client.getFolderTree(docs.id);
    EXPECT_EQ(lastTarget(), "/api/folders/" + docs.id + "/tree");
    EXPECT_EQ(tree.id, docs.id);
    ASSERT_TRUE(tree.children.has_value());
    ASSERT_EQ(tree.children->size(), 1u);
    EXPECT_EQ((*tree.children)[0].path, "/Docs/Sub");
}

TEST_F(APIClientTest, UploadListDownloadDelete)
{
    signIn();
    const Folder folder = client.createFolder("Docs");
    const std::string content = "hello, corvane\n";
    const UploadInitRequest request{"/Sub/a.txt", folder.id, test::sha256Hex(content),
                                    static_cast<std::int64_t>(content.size()), 0};
    const UploadInitResponse started = client.uploadInit(request);
    EXPECT_EQ(nlohmann::json::parse(std::string(server.lastRequest().at("body"))),
              nlohmann::json::parse(encode(request)));
    ASSERT_EQ(started.status, "pending");
    ASSERT_TRUE(started.uploadId.has_value());

    const std::optional<FileInfo> stored = client.uploadChunk(*started.uploadId, content);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->hash, request.hash);
    EXPECT_EQ(stored->size, static_cast<std::int64_t>(content.size()));

    EXPECT_EQ(client.download(request.hash), content);
    EXPECT_EQ(lastTarget(), "/api/sync/download/" + request.hash);

    const std::vector<FileInfo> listed = client.listFiles(folder.id);
    EXPECT_EQ(lastTarget(), "/api/files?folder_id=" + folder.id);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].id, stored->id);

    // The same content again: the server already holds it.
    const UploadInitResponse again =
        client.uploadInit({"/b.txt", folder.id, request.hash, request.size, 0});
    EXPECT_EQ(again.status, "exists");
    EXPECT_FALSE(again.uploadId.has_value());

    client.deleteFile("/Sub/a.txt", folder.id);
    EXPECT_EQ(nlohmann::json::parse(std::string(server.lastRequest().at("body"))),
              (nlohmann::json{{"path", "/Sub/a.txt"}, {"folder_id", folder.id}}));
    EXPECT_EQ(client.listFiles(folder.id).size(), 1u);  // "/b.txt" stays
}

TEST_F(APIClientTest, EventsListTheChangesSinceAnIdInTheirFolders)
{
    const VerifyResponse account = [&] {
        client.sendCode(kEmail);
        return client.verify(kEmail, server.latestCode(kEmail));
    }();
    client.setToken(account.token);
    const Folder docs = client.createFolder("Docs");
    const Folder other = client.createFolder("Other");
    const auto upload = [&](const Folder& folder, const std::string& path,
                            const std::string& content, std::int64_t baseVersion) {
        const UploadInitResponse started =
            client.uploadInit({path, folder.id, test::sha256Hex(content),
                               static_cast<std::int64_t>(content.size()), baseVersion});
        EXPECT_TRUE(started.uploadId.has_value());
        return client.uploadChunk(started.uploadId.value_or(""), content).value();
    };
    const FileInfo first = upload(docs, "/a.txt", "one", 0);
    upload(docs, "/a.txt", "two", first.version);
    const FileInfo elsewhere = upload(other, "/b.txt", "three", 0);
    client.deleteFile("/a.txt", docs.id);

    const std::vector<SyncEvent> events = client.listEvents(std::nullopt, {});
    ASSERT_EQ(events.size(), 4u);
    struct Expected {
        const char* action;
        const char* path;
        const Folder& folder;
        const FileInfo& file;
    };
    const Expected expected[] = {{"create", "/a.txt", docs, first},
                                 {"update", "/a.txt", docs, first},
                                 {"create", "/b.txt", other, elsewhere},
                                 {"delete", "/a.txt", docs, first}};
    for (std::size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].action, expected[i].action);
        EXPECT_EQ(events[i].path, expected[i].path);
        EXPECT_EQ(events[i].folderId, expected[i].folder.id);
        EXPECT_EQ(events[i].fileId, expected[i].file.id);
        EXPECT_EQ(events[i].userId, account.user.id);
        EXPECT_FALSE(events[i].timestamp.empty());
        if (i > 0) {
            EXPECT_LT(std::stoll(events[i - 1].id), std::stoll(events[i].id));
        }
    }
    ASSERT_TRUE(events[0].metadata.has_value());
    EXPECT_EQ(nlohmann::json::parse(*events[0].metadata).value("hash", ""), test::sha256Hex("one"));

    const auto actionsOf = [&](const std::optional<std::string>& since,
                               const std::vector<std::string>& folderIds) {
        std::vector<std::string> actions;
        for (const SyncEvent& event : client.listEvents(since, folderIds)) {
            actions.push_back(event.action + " " + event.path.value_or(""));
        }
        return actions;
    };
    using Actions = std::vector<std::string>;
    EXPECT_EQ(actionsOf(events[1].id, {}), (Actions{"create /b.txt", "delete /a.txt"}));
    EXPECT_EQ(actionsOf(events[3].id, {}), Actions{});
    EXPECT_EQ(actionsOf(std::nullopt, {other.id}), Actions{"create /b.txt"});
    EXPECT_EQ(actionsOf(events[0].id, {docs.id}), (Actions{"update /a.txt", "delete /a.txt"}));
    EXPECT_EQ(actionsOf(events[0].id, {docs.id, other.id}).size(), 3u);
}

TEST_F(APIClientTest, CallsInARowShareOneConnection)
{
    signIn();
    const auto connection = [&] { return server.lastRequest().at("connection").get<int>(); };
    const Folder folder = client.createFolder("Docs");
    const int first = connection();
    const std::string content = "kept alive";
    const UploadInitResponse started =
        client.uploadInit({"/a.txt", folder.id, test::sha256Hex(content),
                           static_cast<std::int64_t>(content.size()), 0});
    EXPECT_EQ(connection(), first);
    client.uploadChunk(started.uploadId.value(), content);
    EXPECT_EQ(connection(), first);
    EXPECT_EQ(client.download(test::sha256Hex(content)), content);
    EXPECT_EQ(connection(), first);
    client.listFolders();
    EXPECT_EQ(connection(), first);

    // Another client has connections of its own.
    APIClient other(server.baseURL());
    other.setToken(client.token());
    other.listFolders();
    EXPECT_NE(connection(), first);
}

TEST_F(APIClientTest, FolderTreesAsDeepAsTheServerAllowsDecode)
{
    signIn();
    constexpr int kMaxDepth = 255;
    const Folder top = client.createFolder("d");
    Folder deepest = top;
    for (int depth = 2; depth <= kMaxDepth; ++depth) {
        deepest = client.createFolder("d", deepest.id);
    }
    EXPECT_EQ(std::count(deepest.path.begin(), deepest.path.end(), '/'), kMaxDepth);
    const std::string content = "at the bottom";
    const UploadInitResponse started =
        client.uploadInit({"/f.txt", deepest.id, test::sha256Hex(content),
                           static_cast<std::int64_t>(content.size()), 0});
    client.uploadChunk(started.uploadId.value(), content);

    const FolderTree tree = client.getFolderTree(top.id);
    const FolderTree* folder = &tree;
    int depth = 1;
    while (folder->children && !folder->children->empty()) {
        folder = &folder->children->front();
        ++depth;
    }
    EXPECT_EQ(depth, kMaxDepth);
    EXPECT_EQ(folder->id, deepest.id);
    ASSERT_TRUE(folder->files.has_value());
    ASSERT_EQ(folder->files->size(), 1u);
    EXPECT_EQ(folder->files->front().hash, test::sha256Hex(content));

    // One level more would make the tree unreadable: the server refuses it and says why.
    expectAPIError([&] { client.createFolder("d", deepest.id); }, Kind::serverError,
                   R"({"error":"folders nest at most 255 deep"})");
    EXPECT_EQ(client.getFolderTree(top.id).id, top.id);
}

TEST_F(APIClientTest, AuthorizationAndContentTypeHeaders)
{
    // No token: no "Authorization" at all, for a GET and for a POST.
    EXPECT_THROW(client.listFolders(), APIError);
    nlohmann::json headers = lastHeaders();
    EXPECT_FALSE(headers.contains("authorization"));
    EXPECT_FALSE(headers.contains("content-type"));
    EXPECT_FALSE(headers.contains("expect"));

    client.sendCode(kEmail);
    headers = lastHeaders();
    EXPECT_FALSE(headers.contains("authorization"));
    EXPECT_EQ(headers.value("content-type", ""), "application/json");

    // An empty token is a token: "Bearer " with nothing after it (the server may trim the
    // trailing blank, as HTTP allows).
    client.setToken("");
    EXPECT_THROW(client.listFolders(), APIError);
    headers = lastHeaders();
    ASSERT_TRUE(headers.contains("authorization"));
    EXPECT_TRUE(headers.at("authorization") == "Bearer " || headers.at("authorization") == "Bearer")
        << headers.at("authorization");

    const std::string token = server.signIn(kEmail);
    client.setToken(token);
    client.createFolder("Docs");
    headers = lastHeaders();
    EXPECT_EQ(headers.value("authorization", ""), "Bearer " + token);
    EXPECT_EQ(headers.value("content-type", ""), "application/json");
    EXPECT_FALSE(headers.contains("expect"));
    EXPECT_EQ(server.lastRequest().at("method"), "POST");

    EXPECT_THROW(client.download(std::string(64, 'a')), APIError);  // unknown content
    headers = lastHeaders();
    EXPECT_EQ(headers.value("authorization", ""), "Bearer " + token);
    EXPECT_FALSE(headers.contains("content-type"));
    EXPECT_EQ(server.lastRequest().at("method"), "GET");
}

TEST_F(APIClientTest, PercentEncodingOnTheWire)
{
    signIn();
    const auto targetOf = [&](const std::function<void()>& call) {
        try {
            call();
        } catch (const Error&) {
            // Only the request's target matters here, not the server's answer.
        }
        return lastTarget();
    };
    EXPECT_EQ(targetOf([&] { client.listFolders("a b"); }), "/api/folders?parent_id=a%20b");
    EXPECT_EQ(targetOf([&] { client.listFolders("x&y=z+w?/:@;"); }),
              "/api/folders?parent_id=x&y=z+w?/:@;");
    EXPECT_EQ(targetOf([&] { client.listFolders("é#%"); }), "/api/folders?parent_id=%C3%A9%23%25");
    EXPECT_EQ(targetOf([&] { client.getFolderTree("a/b"); }), "/api/folders/a/b/tree");
    EXPECT_EQ(targetOf([&] { client.getFolderTree("a?b;c d"); }),
              "/api/folders/a%3Fb%3Bc%20d/tree");
    EXPECT_EQ(targetOf([&] { client.getFolderTree("../x"); }), "/api/folders/../x/tree");
    EXPECT_EQ(targetOf([&] { client.listFiles("f 1&g"); }), "/api/files?folder_id=f%201&g");
    EXPECT_EQ(targetOf([&] { client.download("ab cd#"); }), "/api/sync/download/ab%20cd%23");

    EXPECT_EQ(targetOf([&] { client.listEvents(std::nullopt, {}); }), "/api/sync/events");
    EXPECT_EQ(targetOf([&] { client.listEvents("42", {}); }), "/api/sync/events?since=42");
    EXPECT_EQ(targetOf([&] {
                  client.listEvents(std::nullopt, {"a", "b", "c"});
              }),
              "/api/sync/events?folder_ids=a,b,c");
    EXPECT_EQ(targetOf([&] { client.listEvents("7", {"a"}); }),
              "/api/sync/events?since=7&folder_ids=a");
    EXPECT_EQ(targetOf([&] { client.listEvents("x&y", {"%41"}); }),
              "/api/sync/events?since=x&y&folder_ids=%41");
}

TEST_F(APIClientTest, InvalidAddressSendsNothing)
{
    signIn();
    client.listFolders();
    const nlohmann::json before = server.lastRequest();
    expectAPIError([&] { client.listEvents("a b", {}); }, Kind::invalidURL, "Invalid URL");
    expectAPIError([&] { client.listEvents(std::nullopt, {"{x}"}); }, Kind::invalidURL,
                   "Invalid URL");
    expectAPIError([&] { client.listEvents("100%", {}); }, Kind::invalidURL, "Invalid URL");
    EXPECT_EQ(server.lastRequest(), before);
}

struct StatusCase {
    const char* name;
    nlohmann::json fault;      // path_prefix is added per call
    std::optional<Kind> kind;  // absent: a DecodingError
    std::string description;
};

TEST_F(APIClientTest, StatusMappingOfJSONCalls)
{
    signIn();
    const std::string invalidUTF8 = "aGVsbG8g/w==";  // "hello \xff"
    const StatusCase cases[] = {
        {"401 with a body",
         {{"status", 401}, {"body", R"({"error":"bad token"})"}},
         Kind::unauthorized,
         "Session expired, please log in again"},
        {"404 text",
         {{"status", 404}, {"body", "Folder not found"}, {"content_type", "text/plain"}},
         Kind::serverError,
         "Folder not found"},
        {"500 JSON",
         {{"status", 500}, {"body", R"({"error":"database is locked"})"}},
         Kind::serverError,
         R"({"error":"database is locked"})"},
        // An error line must never be blank.
        {"400 empty", {{"status", 400}, {"body", ""}}, Kind::serverError, "Unknown error"},
        {"500 blank", {{"status", 500}, {"body", " \r\n\t "}}, Kind::serverError, "Unknown error"},
        {"409 padded", {{"status", 409}, {"body", " taken \n"}}, Kind::serverError, " taken \n"},
        {"503 not UTF-8",
         {{"status", 503}, {"body_base64", invalidUTF8}},
         Kind::serverError,
         "Unknown error"},
        {"599", {{"status", 599}, {"body", "odd"}}, Kind::serverError, "odd"},
        {"204", {{"status", 204}}, std::nullopt, ""},
        {"200 empty", {{"status", 200}, {"body", ""}}, std::nullopt, ""},
        {"200 wrong record", {{"status", 200}, {"body", R"({"id":"x"})"}}, std::nullopt, ""},
        {"201 not JSON", {{"status", 201}, {"body", "created"}}, std::nullopt, ""},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = [&](const std::string& prefix, const std::function<void()>& call) {
            nlohmann::json fault = c.fault;
            fault["path_prefix"] = prefix;
            server.injectFault(fault);
            if (c.kind) {
                expectAPIError(call, *c.kind, c.description);
            } else {
                EXPECT_THROW(call(), DecodingError);
            }
            server.clearFaults();
        };
        run("/api/folders", [&] { client.getFolderTree("x"); });
        run("/api/folders", [&] { client.createFolder("Docs"); });
        run("/api/sync/upload/init", [&] { client.uploadInit({"/a", "f", "h", 1, 0}); });
    }
}

TEST_F(APIClientTest, ServerErrorsKeepTheirStatus)
{
    signIn();
    const Folder folder = client.createFolder("Docs");
    try {
        client.deleteFile("/missing.txt", folder.id);
        ADD_FAILURE() << "no error";
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), Kind::serverError);
        EXPECT_EQ(error.httpStatus(), 404);
    }
}

TEST_F(APIClientTest, AnswersWhoseContentIsThrownAwayMustStillDecode)
{
    signIn();
    const auto answer = [&](const std::string& prefix, const std::string& body) {
        server.clearFaults();
        fault(prefix, {{"status", 200}, {"body", body}, {"content_type", "application/json"}});
    };
    answer("/api/auth/send-code", "{}");
    EXPECT_NO_THROW(client.sendCode(kEmail));
    answer("/api/auth/send-code", R"({"message":"sent"})");
    EXPECT_NO_THROW(client.sendCode(kEmail));
    for (const std::string body : {R"({"n":1})", R"({"b":true})", R"({"x":null})", "[]", ""}) {
        answer("/api/auth/send-code", body);
        EXPECT_THROW(client.sendCode(kEmail), DecodingError) << body;
    }

    answer("/api/sync/delete", "{}");
    EXPECT_NO_THROW(client.deleteFile("/a", "f"));
    answer("/api/sync/delete", R"({"deleted":true})");
    EXPECT_NO_THROW(client.deleteFile("/a", "f"));
    for (const std::string body : {R"({"deleted":"yes"})", R"({"n":1})", "true", ""}) {
        answer("/api/sync/delete", body);
        EXPECT_THROW(client.deleteFile("/a", "f"), DecodingError) << body;
    }
}

TEST_F(APIClientTest, DecodingErrorNamesThePathInsideTheAnswer)
{
    signIn();
    fault("/api/folders", {{"status", 200},
                           {"body", R"([{"id":"1","name":"a","path":"/a","owner_id":"o",)"
                                    R"("created_at":"c","updated_at":"u"},{"id":2}])"}});
    try {
        client.listFolders();
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.localizedDescription(), "type mismatch: expected string at [1].id");
    }
}

TEST_F(APIClientTest, ContentCallsAcceptOnlyStatus200)
{
    signIn();
    const std::string fileJSON = R"({"file":{"id":"1","name":"a","path":"/a","hash":"h","size":1,)"
                                 R"("version":1,"owner_id":"o","folder_id":"f","created_at":"c",)"
                                 R"("updated_at":"u"}})";
    const nlohmann::json refusals[] = {
        {{"status", 201}, {"body", fileJSON}}, {{"status", 204}},
        {{"status", 401}, {"body", "no"}},     {{"status", 404}, {"body", "not here"}},
        {{"status", 500}, {"body", fileJSON}},
    };
    for (const nlohmann::json& refusal : refusals) {
        SCOPED_TRACE(refusal.dump());
        const auto refuse = [&](const std::string& prefix) {
            server.clearFaults();
            nlohmann::json details = refusal;
            fault(prefix, details);
        };
        refuse("/api/sync/upload/chunk");
        expectAPIError([&] { client.uploadChunk("u", "data"); }, Kind::requestFailed,
                       "Request failed");
        refuse("/api/sync/download");
        expectAPIError([&] { client.download("h"); }, Kind::requestFailed, "Request failed");
        refuse("/api/sync/download");
        const auto target = files.path() / "refused";
        expectAPIError([&] { client.downloadToFile("h", target); }, Kind::requestFailed,
                       "Request failed");
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}

TEST_F(APIClientTest, ChunkAnswerShapes)
{
    signIn();
    const auto answer = [&](const std::string& body) {
        server.clearFaults();
        fault("/api/sync/upload/chunk", {{"status", 200}, {"body", body}});
    };
    answer(R"({"file":null})");
    EXPECT_EQ(client.uploadChunk("u", "x"), std::nullopt);
    answer(R"({"other":1})");
    EXPECT_EQ(client.uploadChunk("u", "x"), std::nullopt);
    for (const std::string body : {"not json", "[]", "", R"({"file":{"id":"1"}})"}) {
        answer(body);
        EXPECT_THROW(client.uploadChunk("u", "x"), DecodingError) << body;
    }
}

TEST_F(APIClientTest, DownloadOfEmptyContent)
{
    signIn();
    fault("/api/sync/download", {{"status", 200}, {"body", ""}, {"count", 3}});
    EXPECT_EQ(client.download("h"), "");
    const auto target = files.path() / "empty";
    EXPECT_EQ(client.downloadToFile("h", target), 0u);
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
    // A device has nothing to flush and is never removed.
    EXPECT_EQ(client.downloadToFile("h", "/dev/null"), 0u);
    EXPECT_TRUE(std::filesystem::exists("/dev/null"));
}

TEST_F(APIClientTest, MultipartBytesOnTheWire)
{
    signIn();
    const auto boundaryOf = [&](const nlohmann::json& request) {
        const std::string type = request.at("headers").at("content-type");
        const std::string prefix = "multipart/form-data; boundary=";
        EXPECT_EQ(type.rfind(prefix, 0), 0u) << type;
        return type.substr(prefix.size());
    };
    // Content that looks like a form boundary and a closing line is sent unchanged.
    const std::string tricky = "\r\n--3F2504E0-4F89-41D3-9A0C-0305E82C3301--\r\n"
                               "Content-Disposition: form-data; name=\"upload_id\"\r\n\r\nx";
    const std::vector<std::string> contents = {"", "hello", tricky, test::randomBytes(70000, 1)};
    std::vector<std::string> boundaries;
    for (const std::string& content : contents) {
        const std::string uploadId = startUpload(content);
        const std::optional<FileInfo> stored = client.uploadChunk(uploadId, content);
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->size, static_cast<std::int64_t>(content.size()));

        const nlohmann::json request = server.lastRequest();
        const std::string boundary = boundaryOf(request);
        EXPECT_EQ(boundary.size(), 36u);
        EXPECT_EQ(boundary.find_first_not_of("0123456789ABCDEF-"), std::string::npos);
        const std::string expected = test::multipartBody(boundary, uploadId, content);
        EXPECT_EQ(std::string(request.at("body")), expected);
        EXPECT_EQ(request.at("headers").value("content-length", ""),
                  std::to_string(expected.size()));
        EXPECT_FALSE(request.at("headers").contains("expect"));
        boundaries.push_back(boundary);

        EXPECT_EQ(client.download(test::sha256Hex(content)), content);
    }
    std::sort(boundaries.begin(), boundaries.end());
    EXPECT_EQ(std::adjacent_find(boundaries.begin(), boundaries.end()), boundaries.end());
}

TEST_F(APIClientTest, ZeroByteUploadHasAnEmptyDataPart)
{
    signIn();
    const std::string uploadId = startUpload("");
    client.uploadChunk(uploadId, "");
    const nlohmann::json request = server.lastRequest();
    const std::string body = request.at("body");
    const std::string type = request.at("headers").at("content-type");
    const std::string boundary = type.substr(type.find('=') + 1);
    const std::string end =
        "Content-Type: application/octet-stream\r\n\r\n\r\n--" + boundary + "--\r\n";
    ASSERT_GE(body.size(), end.size());
    EXPECT_EQ(body.substr(body.size() - end.size()), end);
}

TEST_F(APIClientTest, StreamingUploadAndDownloadOfALargeFile)
{
    signIn();
    const std::string content = test::randomBytes(50 * 1024 * 1024 + 13, 7);
    const auto source = files.path() / "large.bin";
    test::writeFileContents(source, content);
    const std::string uploadId = startUpload(content);
    const std::optional<FileInfo> stored = client.uploadChunkFromFile(uploadId, source);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->hash, test::sha256Hex(content));

    const auto target = files.path() / "large.download";
    EXPECT_EQ(client.downloadToFile(stored->hash, target), content.size());
    EXPECT_TRUE(test::fileContents(target) == content);
}

TEST_F(APIClientTest, DownloadToFileGivesTheHashOfTheBytesWritten)
{
    signIn();
    const auto target = files.path() / "hashed.bin";
    std::string hash;
    // Small contents are hashed as they pass, large ones read back from the file beside the
    // socket; an existing file is overwritten (one its owner may not read, unless that is root,
    // is hashed as it passes whatever its size).
    const struct {
        std::size_t size;
        mode_t existingMode;  // 0: no file before
    } cases[] = {{3 * 1024 * 1024 + 5, 0}, {9 * 1024 * 1024 + 5, 0}, {9 * 1024 * 1024 + 5, 0200}};
    std::uint64_t seed = 9;
    for (const auto& test : cases) {
        SCOPED_TRACE(std::to_string(test.size) + " bytes, mode " +
                     std::to_string(test.existingMode));
        const std::string content = test::randomBytes(test.size, seed++);
        client.uploadChunk(startUpload(content), content);
        std::filesystem::remove(target);
        if (test.existingMode != 0) {
            test::writeFileContents(target, "old");
            std::filesystem::permissions(target,
                                         static_cast<std::filesystem::perms>(test.existingMode));
        }
        EXPECT_EQ(client.downloadToFile(test::sha256Hex(content), target, hash), content.size());
        EXPECT_EQ(hash, test::sha256Hex(content));
        std::filesystem::permissions(target, std::filesystem::perms::owner_all);
        EXPECT_TRUE(test::fileContents(target) == content);
    }

    // What arrives is hashed, whatever was asked for.
    fault("/api/sync/download", {{"status", 200}, {"body", "something else"}});
    EXPECT_EQ(client.downloadToFile(std::string(64, 'a'), target, hash), 14u);
    EXPECT_EQ(hash, test::sha256Hex("something else"));
    EXPECT_EQ(test::fileContents(target), "something else");
}

TEST_F(APIClientTest, FileUploadSendsTheSameBytesAsMemoryUpload)
{
    signIn();
    const std::string content = test::randomBytes(300000, 3) + "\r\n--";
    const auto source = files.path() / "small.bin";
    test::writeFileContents(source, content);
    const std::string uploadId = startUpload(content);
    ASSERT_TRUE(client.uploadChunkFromFile(uploadId, source).has_value());
    const nlohmann::json request = server.lastRequest();
    const std::string type = request.at("headers").at("content-type");
    const std::string boundary = type.substr(type.find('=') + 1);
    EXPECT_TRUE(std::string(request.at("body")) ==
                test::multipartBody(boundary, uploadId, content));
}

TEST_F(APIClientTest, VerifiedFileUploadSendsOnlyTheDeclaredContent)
{
    signIn();
    struct Case {
        std::string declared;
        std::string onDisk;
        bool accepted;
    };
    const std::string large = test::randomBytes(700000, 5);
    const std::string other = test::randomBytes(700000, 6);
    std::string largeChangedAtTheEnd = other;
    largeChangedAtTheEnd.back() ^= 1;
    const Case cases[] = {
        {"", "", true},
        {large, large, true},
        {other, largeChangedAtTheEnd, false},  // same size, other bytes
        {"declared", "longer on disk", false},
        {"declared", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.onDisk.size());
        const auto source = files.path() / "changing.bin";
        test::writeFileContents(source, c.onDisk);
        const std::string uploadId = startUpload(c.declared);
        const std::string hash = test::sha256Hex(c.declared);
        if (c.accepted) {
            const auto stored =
                client.uploadChunkFromFile(uploadId, source, c.declared.size(), hash);
            ASSERT_TRUE(stored.has_value());
            EXPECT_EQ(stored->hash, hash);
            continue;
        }
        EXPECT_THROW(client.uploadChunkFromFile(uploadId, source, c.declared.size(), hash),
                     ContentChangedError);
        // Nothing was stored under the declared hash.
        expectAPIError([&] { client.download(hash); }, Kind::requestFailed, "Request failed");
    }
}

TEST_F(APIClientTest, FileUploadOfAMissingFileSendsNothing)
{
    signIn();
    client.listFolders();
    const nlohmann::json before = server.lastRequest();
    EXPECT_THROW(client.uploadChunkFromFile("u", files.path() / "missing"), FileError);
    EXPECT_THROW(client.uploadChunkFromFile("u", files.path()), FileError);
    EXPECT_EQ(server.lastRequest(), before);
}

TEST_F(APIClientTest, DroppedDownloadLeavesNoPartialFile)
{
    signIn();
    const std::string content = test::randomBytes(1 << 20, 5);
    client.uploadChunk(startUpload(content), content);
    fault("/api/sync/download", {{"status", 200}, {"body", "partial"}, {"cut", true}});
    const auto target = files.path() / "cut.part";
    EXPECT_THROW(client.downloadToFile(test::sha256Hex(content), target), TransportError);
    EXPECT_FALSE(std::filesystem::exists(target));

    // Creating the file fails: nothing is left behind and the error names the file.
    try {
        client.downloadToFile(test::sha256Hex(content), files.path() / "no" / "such" / "dir");
        FAIL();
    } catch (const FileError& error) {
        EXPECT_NE(error.localizedDescription().find("dir"), std::string::npos);
    }

    // An existing file at the target is replaced by the complete content.
    test::writeFileContents(target, "old content that is longer than nothing");
    EXPECT_EQ(client.downloadToFile(test::sha256Hex(content), target), content.size());
    EXPECT_TRUE(test::fileContents(target) == content);
}

TEST_F(APIClientTest, FailedDownloadKeepsAnExistingFileUntilNewContentArrives)
{
    signIn();
    const std::string content = test::randomBytes(1 << 20, 11);
    client.uploadChunk(startUpload(content), content);
    const std::string hash = test::sha256Hex(content);
    struct Case {
        const char* name;
        nlohmann::json fault;
        bool kept;  // else removed: part of the old content is already overwritten
    };
    const Case cases[] = {
        {"404", {{"status", 404}, {"body", "not here"}}, true},
        {"401", {{"status", 401}}, true},
        {"cut before the body", {{"status", 200}, {"body", ""}, {"cut", true}}, true},
        {"cut in the body", {{"status", 200}, {"body", "partial"}, {"cut", true}}, false},
    };
    const auto target = files.path() / "existing.txt";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::writeFileContents(target, "the caller's own content");
        server.clearFaults();
        fault("/api/sync/download", c.fault);
        EXPECT_THROW(client.downloadToFile(hash, target), Error);
        if (c.kept) {
            EXPECT_EQ(test::fileContents(target), "the caller's own content");
        } else {
            EXPECT_FALSE(std::filesystem::exists(target));
        }
    }
    server.clearFaults();
    EXPECT_EQ(client.downloadToFile(hash, target), content.size());
    EXPECT_TRUE(test::fileContents(target) == content);
}

TEST_F(APIClientTest, JSONAnswerOverTheLimitIsRefused)
{
    APIClient small(server.baseURL(), 1024);
    small.setToken(server.signIn(kEmail));
    const std::string folder = R"({"id":"1","name":"a","path":"/a","owner_id":"o",)"
                               R"("created_at":"c","updated_at":"u"})";
    std::string list = "[" + folder;
    while (list.size() + folder.size() + 2 <= 1024) {
        list += "," + folder;
    }
    list += "]";
    ASSERT_LE(list.size(), 1024u);
    fault("/api/folders", {{"status", 200}, {"body", list}});
    EXPECT_GT(small.listFolders().size(), 1u);  // exactly at the limit: accepted

    fault("/api/folders", {{"status", 200}, {"body", list + std::string(1024, ' ')}});
    try {
        small.listFolders();
        FAIL();
    } catch (const TransportError& error) {
        EXPECT_EQ(error.localizedDescription(), "Server answer too large (over 1024 bytes)");
    }
    fault("/api/sync/upload/chunk", {{"status", 200}, {"body", std::string(2000, ' ') + "{}"}});
    EXPECT_THROW(small.uploadChunk("u", "x"), TransportError);
    // A large error body is refused the same way rather than kept.
    fault("/api/folders", {{"status", 500}, {"body", std::string(5000, 'e')}});
    EXPECT_THROW(small.listFolders(), TransportError);
    // Content downloads are not JSON and not limited.
    fault("/api/sync/download", {{"status", 200}, {"body", std::string(5000, 'd')}});
    EXPECT_EQ(small.download("h").size(), 5000u);
    // The client still works afterwards.
    EXPECT_NO_THROW(small.listFolders());

    EXPECT_EQ(APIClient::kMaxJSONAnswerBytes, 64u * 1024 * 1024);
    APIClient normal(server.baseURL());
    normal.setToken(small.token());
    fault("/api/folders", {{"status", 200}, {"body", list + std::string(1024, ' ')}});
    EXPECT_NO_THROW(normal.listFolders());
}

TEST_F(APIClientTest, TransportFailuresCarryLibcurlsMessage)
{
    signIn();
    client.listFolders();  // leaves a kept-alive connection in the pool
    fault("/api/folders", {{"status", 200}, {"body", "[]"}, {"cut", true}});
    EXPECT_THROW(client.listFolders(), TransportError);

    server.kill();
    try {
        client.listFolders();
        FAIL();
    } catch (const TransportError& error) {
        EXPECT_EQ(error.code(), 7);  // CURLE_COULDNT_CONNECT
        EXPECT_NE(error.localizedDescription().find("onnect"), std::string::npos)
            << error.localizedDescription();
    }
    EXPECT_THROW(client.uploadChunk("u", "x"), TransportError);
    EXPECT_THROW(client.downloadToFile("h", files.path() / "x"), TransportError);
    EXPECT_FALSE(std::filesystem::exists(files.path() / "x"));
}

}  // namespace
}  // namespace corvane
