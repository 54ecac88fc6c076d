#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "support/RawHttp.h"
#include "support/ServerProcess.h"

namespace corvane::test {

// The body the client sends for a chunk upload: the client's exact multipart layout.
inline std::string multipartBody(const std::string& boundary, const std::string& uploadId,
                                 const std::string& data)
{
    return "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"upload_id\"\r\n\r\n" +
           uploadId + "\r\n" + "--" + boundary + "\r\n" +
           "Content-Disposition: form-data; name=\"data\"; filename=\"chunk\"\r\n" +
           "Content-Type: application/octet-stream\r\n\r\n" + data + "\r\n--" + boundary + "--\r\n";
}

inline std::string sha256Hex(const std::string& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0f];
    }
    return text;
}

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
