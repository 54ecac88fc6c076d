#include "TestApi.h"

#include <nlohmann/json.hpp>

#include "Base64.h"
#include "FaultInjector.h"
#include "HttpError.h"
#include "JsonBody.h"
#include "Request.h"
#include "RequestRecorder.h"
#include "ServerClock.h"
#include "Services.h"

namespace corvane::server {

namespace {

constexpr std::int64_t kMaxDelayMs = 120'000;
constexpr std::int64_t kMaxClockStep = 100LL * 365 * 24 * 3600;

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
    m_services.faults.add(std::move(fault));
    return Response::json(200, nlohmann::json::object());
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
    const auto seconds = body.integer("advance_seconds");
    if (seconds < -kMaxClockStep || seconds > kMaxClockStep) {
        throw HttpError(400, "advance_seconds out of range");
    }
    m_services.clock.advance(std::chrono::seconds(seconds));
    return Response::json(200, nlohmann::json::object());
}

}  // namespace corvane::server
