#include "TestApi.h"

#include <nlohmann/json.hpp>

#include "Base64.h"
#include "FaultInjector.h"
#include "Housekeeper.h"
#include "HttpError.h"
#include "JsonBody.h"
#include "PushHub.h"
#include "Request.h"
#include "RequestRecorder.h"
#include "ServerClock.h"
#include "Services.h"

namespace corvane::server {

namespace {

constexpr std::int64_t kMaxDelayMs = 120'000;
constexpr std::int64_t kMaxClockStep = 100LL * 365 * 24 * 3600;
constexpr std::int64_t kDefaultHugePush = 1024 * 1024;
constexpr std::int64_t kMinHugePush = 64;
constexpr std::int64_t kMaxHugePush = 32 * 1024 * 1024;

// A file_changed message of exactly `size` bytes whose event lacks "id".
std::string hugePush(std::size_t size)
{
    const std::string head = R"({"type":"file_changed","event":{"action":"create","path":"/)";
    const std::string tail = R"("}})";
    return head + std::string(size - head.size() - tail.size(), 'a') + tail;
}

}  // namespace

Response TestApi::addFault(const Request& request)
{
    const JsonBody body(request.body);
    Fault fault;
    fault.pathPrefix = body.text("path_prefix");
    fault.method = body.optionalText("method");
    const auto count = body.optionalInteger("count").value_or(1);
    if (count < 1 || count > 1'000'000) {
        throw HttpError(400, "count must be at least 1");
    }
    fault.count = static_cast<int>(count);
    if (const auto status = body.optionalInteger("status")) {
        if (*status < 100 || *status > 599) {
            throw HttpError(400, "status must be between 100 and 599");
        }
        fault.status = static_cast<int>(*status);
    }
    fault.body = body.optionalText("body");
    if (const auto encoded = body.optionalText("body_base64")) {
        fault.body = Base64::decode(*encoded);
        if (!fault.body) {
            throw HttpError(400, "body_base64 is not base64");
        }
    }
    fault.contentType = body.optionalText("content_type");
    const auto delay = body.optionalInteger("delay_ms").value_or(0);
    if (delay < 0 || delay > kMaxDelayMs) {
        throw HttpError(400, "delay_ms out of range");
    }
    fault.delay = std::chrono::milliseconds(delay);
    fault.cut = body.optionalBoolean("cut").value_or(false);
    if (auto patch = body.optionalArray("patch")) {
        for (const auto& operation : *patch) {
            if (!operation.is_object()) {
                throw HttpError(400, "patch must be an array of operation objects");
            }
        }
        fault.patch = std::move(*patch);
    }
    fault.malformedJson = body.optionalBoolean("malformed_json").value_or(false);
    fault.corruptContent = body.optionalBoolean("corrupt_content").value_or(false);
    if (fault.changesAnswer() && (fault.status || fault.body || fault.cut)) {
        throw HttpError(400, "patch, malformed_json and corrupt_content change the route's answer; "
                             "they cannot be combined with status, body or cut");
    }
    if (const auto push = body.optionalObject("push")) {
        fault.push = pushText(*push);
    }
    m_services.faults.add(std::move(fault));
    return Response::json(200, nlohmann::json::object());
}

std::shared_ptr<const std::string> TestApi::pushText(const JsonBody& push)
{
    const auto text = push.optionalText("text");
    const auto kind = push.optionalText("kind");
    if (text.has_value() == kind.has_value()) {
        throw HttpError(400, "push needs either text or kind");
    }
    if (text) {
        return std::make_shared<const std::string>(*text);
    }
    if (*kind != "huge" && push.contains("size")) {
        throw HttpError(400, "push size goes with kind huge only");
    }
    if (*kind == "not_json") {
        return std::make_shared<const std::string>(R"(this is not JSON {"type":"file_changed")");
    }
    if (*kind == "wrong_types") {
        return std::make_shared<const std::string>(
            R"({"type":"file_changed","event":{"id":17,"action":["create"],"path":"/x",)"
            R"("version":"3"}})");
    }
    if (*kind == "no_event") {
        return std::make_shared<const std::string>(R"({"type":"file_changed"})");
    }
    if (*kind == "huge") {
        const auto size = push.optionalInteger("size").value_or(kDefaultHugePush);
        if (size < kMinHugePush || size > kMaxHugePush) {
            throw HttpError(400, "push size must be between 64 and 33554432");
        }
        return std::make_shared<const std::string>(hugePush(static_cast<std::size_t>(size)));
    }
    throw HttpError(400, "unknown push kind: " + *kind);
}

Response TestApi::clearFaults()
{
    m_services.faults.clear();
    return Response::json(200, nlohmann::json::object());
}

Response TestApi::lastRequest()
{
    const auto last = m_services.recorder.last();
    if (!last) {
        return Response::error(404, "no request yet");
    }
    return Response::json(200, *last);
}

Response TestApi::advanceClock(const Request& request)
{
    const JsonBody body(request.body);
    if (body.optionalBoolean("freeze").value_or(false)) {
        m_services.clock.freeze();
    }
    const auto seconds = body.optionalInteger("advance_seconds").value_or(0);
    if (seconds < -kMaxClockStep || seconds > kMaxClockStep) {
        throw HttpError(400, "advance_seconds out of range");
    }
    m_services.clock.advance(std::chrono::seconds(seconds));
    return Response::json(200, nlohmann::json::object());
}

Response TestApi::dropSockets()
{
    if (m_services.push) {
        m_services.push->dropAll();
    }
    return Response::json(200, nlohmann::json::object());
}

Response TestApi::housekeeping()
{
    if (!m_services.housekeeper) {
        return Response::error(404, "not found");
    }
    const auto round = m_services.housekeeper->collect();
    return Response::json(
        200, {{"expired_uploads", round.expiredUploads}, {"removed_blobs", round.removedBlobs}});
}

}  // namespace corvane::server
