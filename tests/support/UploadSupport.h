#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace corvane::test {

// SHA-256 of `data` as 64 lower-case hexadecimal digits.
std::string sha256Hex(const std::string& data);

// The multipart body of one chunk upload, in the client's exact layout: the "upload_id" part,
// then `content` as the "data" part, then the closing line.
std::string multipartBody(const std::string& boundary, const std::string& uploadId,
                          std::string_view content);

// Uploads `content` as `path` (relative to the folder) over raw HTTP: upload init, then the
// multipart chunk unless the server already holds the content. Returns the server's FileInfo.
// Fails the calling test (and returns null) on an unexpected answer.
nlohmann::json uploadFile(const std::string& baseURL, const std::string& token,
                          const std::string& folderId, const std::string& path,
                          const std::string& content, long long baseVersion = 0);

}  // namespace corvane::test
