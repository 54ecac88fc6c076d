#include "Response.h"

#include <nlohmann/json.hpp>

namespace corvane::server {

Response Response::json(int status, const nlohmann::json& value)
{
    Response response;
    response.status = status;
    // Replace, not throw: stored texts came in as valid UTF-8, but an answer must never fail.
    response.body = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return response;
}

Response Response::error(int status, const std::string& message)
{
    return json(status, nlohmann::json{{"error", message}});
}

Response Response::text(int status, const std::string& message)
{
    Response response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.body = message;
    return response;
}

Response Response::fileContent(const std::filesystem::path& file)
{
    Response response;
    response.contentType = "application/octet-stream";
    response.file = file;
    return response;
}

}  // namespace corvane::server
