#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/RawHttp.h"
#include "support/ServerProcess.h"

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

    ServerProcess m_server;
    std::string m_token;
};

// The body curl-free clients send for a chunk upload: the client's exact multipart layout.
inline std::string multipartBody(const std::string& boundary, const std::string& uploadId,
                                 const std::string& data)
{
    return "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"upload_id\"\r\n\r\n" +
           uploadId + "\r\n" + "--" + boundary + "\r\n" +
           "Content-Disposition: form-data; name=\"data\"; filename=\"chunk\"\r\n" +
           "Content-Type: application/octet-stream\r\n\r\n" + data + "\r\n--" + boundary + "--\r\n";
}

inline bool isJsonError(const HttpResponse& response)
{
    const auto json = nlohmann::json::parse(response.body, nullptr, false);
    return json.is_object() && json.contains("error") && json["error"].is_string();
}

}  // namespace corvane::test
