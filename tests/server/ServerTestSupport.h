#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/RawHttp.h"
#include "support/ServerProcess.h"
#include "support/UploadSupport.h"

namespace corvane::test {

// A running server and one signed-in account, with short-hands for JSON calls.
class ServerTest : public ::testing::Test {
protected:
    explicit ServerTest(ServerOptions options = {}) : m_server(std::move(options)) {}

    void SetUp() override { m_token = m_server.signIn("alice@example.com"); }

    std::vector<std::string> authHeaders(const std::string& token) const
    {
        return {"Authorization: Bearer " + token, "Content-Type: application/json"};
    }

    HttpResponse get(const std::string& path) const { return getAs(m_token, path); }
    HttpResponse getAs(const std::string& token, const std::string& path) const
    {
        return httpRequest("GET", m_server.baseURL() + path, {}, authHeaders(token));
    }
    HttpResponse post(const std::string& path, const nlohmann::json& body) const
    {
        return postAs(m_token, path, body);
    }
    HttpResponse postAs(const std::string& token, const std::string& path,
                        const nlohmann::json& body) const
    {
        return httpRequest("POST", m_server.baseURL() + path, body.dump(), authHeaders(token));
    }
    HttpResponse postRaw(const std::string& path, const std::string& body) const
    {
        return httpRequest("POST", m_server.baseURL() + path, body, authHeaders(m_token));
    }

    // Creates a folder and returns its record.
    nlohmann::json createFolder(const std::string& name, const std::string& parentId = {}) const
    {
        nlohmann::json body{{"name", name}};
        if (!parentId.empty()) {
            body["parent_id"] = parentId;
        }
        const auto response = post("/api/folders", body);
        EXPECT_EQ(response.status, 201) << response.body;
        return nlohmann::json::parse(response.body);
    }

    // POST /api/sync/upload/init for content, answering the parsed JSON (status checked).
    nlohmann::json uploadInit(const std::string& folderId, const std::string& path,
                              const std::string& content, std::int64_t baseVersion = 0) const;
    // The client's multipart chunk upload.
    HttpResponse
    uploadChunk(const std::string& uploadId, const std::string& content,
                const std::string& boundary = "5A1C0D3E-7B7B-4C1D-9F00-0123456789AB") const
    {
        return httpRequest("POST", m_server.baseURL() + "/api/sync/upload/chunk",
                           multipartBody(boundary, uploadId, content),
                           {"Authorization: Bearer " + m_token,
                            "Content-Type: multipart/form-data; boundary=" + boundary});
    }
    // init, then chunk unless the server has the content; answers the stored FileInfo.
    nlohmann::json upload(const std::string& folderId, const std::string& path,
                          const std::string& content, std::int64_t baseVersion = 0) const;

    ServerProcess m_server;
    std::string m_token;
};

inline nlohmann::json ServerTest::uploadInit(const std::string& folderId, const std::string& path,
                                             const std::string& content,
                                             std::int64_t baseVersion) const
{
    const auto response = post("/api/sync/upload/init", {{"path", path},
                                                         {"folder_id", folderId},
                                                         {"hash", sha256Hex(content)},
                                                         {"size", content.size()},
                                                         {"base_version", baseVersion}});
    EXPECT_EQ(response.status, 200) << response.body;
    return nlohmann::json::parse(response.body, nullptr, false);
}

inline nlohmann::json ServerTest::upload(const std::string& folderId, const std::string& path,
                                         const std::string& content, std::int64_t baseVersion) const
{
    const auto init = uploadInit(folderId, path, content, baseVersion);
    if (init.value("status", "") == "exists") {
        return init.at("file");
    }
    const auto chunk = uploadChunk(init.at("upload_id"), content);
    EXPECT_EQ(chunk.status, 200) << chunk.body;
    return nlohmann::json::parse(chunk.body, nullptr, false).at("file");
}

inline bool isJsonError(const HttpResponse& response)
{
    const auto json = nlohmann::json::parse(response.body, nullptr, false);
    return json.is_object() && json.contains("error") && json["error"].is_string();
}

}  // namespace corvane::test
