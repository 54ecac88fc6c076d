#include "support/UploadSupport.h"

#include <array>
#include <cstdio>
#include <memory>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "support/RawHttp.h"

namespace corvane::test {

std::string sha256Hex(const std::string& data)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

std::string multipartBody(const std::string& boundary, const std::string& uploadId,
                          std::string_view content)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"upload_id\"\r\n\r\n" +
           uploadId + "\r\n--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"data\"; filename=\"chunk\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           std::string(content) + "\r\n--" + boundary + "--\r\n";
}

nlohmann::json uploadFile(const std::string& baseURL, const std::string& token,
                          const std::string& folderId, const std::string& path,
                          const std::string& content, long long baseVersion)
{
    const std::string auth = "Authorization: Bearer " + token;
    const nlohmann::json init{{"path", path},
                              {"folder_id", folderId},
                              {"hash", sha256Hex(content)},
                              {"size", content.size()},
                              {"base_version", baseVersion}};
    const auto started = httpRequest("POST", baseURL + "/api/sync/upload/init", init.dump(),
                                     {auth, "Content-Type: application/json"});
    EXPECT_EQ(started.status, 200) << started.body << started.transportError;
    const auto answer = nlohmann::json::parse(started.body, nullptr, false);
    if (started.status != 200 || !answer.is_object()) {
        return nullptr;
    }
    if (answer.value("status", "") == "exists") {
        return answer["file"];
    }
    const std::string boundary = "corvane-test-boundary";
    const std::string body =
        multipartBody(boundary, answer["upload_id"].get<std::string>(), content);
    const auto sent =
        httpRequest("POST", baseURL + "/api/sync/upload/chunk", body,
                    {auth, "Content-Type: multipart/form-data; boundary=" + boundary});
    EXPECT_EQ(sent.status, 200) << sent.body << sent.transportError;
    const auto file = nlohmann::json::parse(sent.body, nullptr, false);
    return file.is_object() && file.contains("file") ? file["file"] : nlohmann::json();
}

}  // namespace corvane::test
