#include "FaultAnswer.h"

#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "FaultInjector.h"
#include "HttpError.h"

namespace corvane::server {

void FaultAnswer::apply(const Fault& fault, Response& response) noexcept
{
    if (!fault.changesAnswer() || response.status < 200 || response.status > 299) {
        return;
    }
    try {
        if (fault.patch) {
            patch(fault, response);
        }
        if (fault.malformedJson) {
            // A proper prefix of a JSON object or array is never JSON.
            response.body.resize(response.body.size() / 2);
        }
        if (fault.corruptContent) {
            corrupt(response);
        }
    } catch (const HttpError& error) {
        response = Response::error(error.status(), error.localizedDescription());
    } catch (const std::exception& error) {
        response = Response::error(500, std::string("fault answer failed: ") + error.what());
    } catch (...) {
        response = Response{};
        response.status = 500;
    }
}

void FaultAnswer::patch(const Fault& fault, Response& response)
{
    const auto json = nlohmann::json::parse(response.body, nullptr, false);
    if (!response.file.empty() || json.is_discarded()) {
        throw HttpError(500, "fault patch: the answer is not JSON");
    }
    try {
        response.body = json.patch(*fault.patch).dump();
    } catch (const nlohmann::json::exception& error) {
        throw HttpError(500, std::string("fault patch failed: ") + error.what());
    }
}

void FaultAnswer::corrupt(Response& response)
{
    if (!response.file.empty()) {
        std::error_code error;
        const auto size = std::filesystem::file_size(response.file, error);
        if (error || size > kMaxCorruptedBytes) {
            throw HttpError(500, "corrupt_content: the content cannot be read into memory");
        }
        std::ifstream in(response.file, std::ios::binary);
        response.body.assign(std::istreambuf_iterator<char>(in), {});
        if (!in.is_open() || response.body.size() != size) {
            throw HttpError(500, "corrupt_content: the content cannot be read");
        }
        response.file.clear();
    }
    // Same length, other bytes: only the hash tells them apart. Empty content gains a byte.
    if (response.body.empty()) {
        response.body = "!";
    } else {
        response.body.front() =
            static_cast<char>(~static_cast<unsigned char>(response.body.front()));
    }
}

}  // namespace corvane::server
