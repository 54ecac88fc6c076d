#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace corvane::server {

// One HTTP answer as the router builds it: a text body, or a file streamed from disk.
// Plain value; any thread.
struct Response {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::filesystem::path file;  // when set, the body is this file's content
    std::vector<std::pair<std::string, std::string>> headers;

    static Response json(int status, const nlohmann::json& value);
    // {"error": message}
    static Response error(int status, const std::string& message);
    // The message as plain UTF-8 text: for answers whose body the client shows a user as it is.
    static Response text(int status, const std::string& message);
    static Response fileContent(const std::filesystem::path& file);
};

}  // namespace corvane::server
