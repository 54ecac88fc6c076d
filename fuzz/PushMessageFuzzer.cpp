// Fuzzes the push channel's text messages: the input is the text of one WebSocket text frame,
// delivered to a connected WebSocketClient exactly as its socket delivers it (on the main
// thread). The client must never throw or crash, and what it hands on must be what the text
// says: an object whose "type" is a text other than "pong", with the event the text carries.
// Conversely, a text that names such a type and carries no event must not be dropped.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "API/WebSocket.h"
#include "API/WebSocketClient.h"
#include "FuzzChecks.h"
#include "Models/Models.h"
#include "Platform/Clock.h"
#include "Platform/MainQueue.h"

namespace corvane {
namespace {

// The most deeply nested text the client is expected to read; deeper ones may be dropped.
constexpr std::size_t kDecodedDepth = 512;

// A socket that is always there and never talks back.
class SilentSocket final : public WebSocket {
public:
    void setDelegate(std::weak_ptr<WebSocketDelegate>) override {}
    void connect() override {}
    void disconnect(std::uint16_t) override {}
    void write(std::string) override {}
};

// One connected client for the whole run; this thread is its main thread.
class Harness {
public:
    Harness()
        : m_client(std::make_shared<WebSocketClient>(
              "http://127.0.0.1:9", "token", std::make_shared<ManualClock>(),
              [](const WebSocketRequest&) { return std::make_shared<SilentSocket>(); }))
    {
        m_client->connect([this](const WSMessage& message) { m_delivered = message; }, [] {});
        m_client->didReceive(WebSocketConnected{}, nullptr);
    }
    ~Harness() { m_client->disconnect(); }

    std::optional<WSMessage> deliver(std::string text)
    {
        m_delivered.reset();
        m_client->didReceive(WebSocketText{std::move(text)}, nullptr);
        return std::move(m_delivered);
    }

private:
    RunLoop m_loop;  // first: makes the fuzzing thread the main thread
    std::shared_ptr<WebSocketClient> m_client;
    std::optional<WSMessage> m_delivered;
};

void checkDelivered(const std::string& text, const WSMessage& message)
{
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object() || !json.contains("type") || !json["type"].is_string()) {
        fuzz::fail("handed on a text without a text \"type\"", text);
    }
    if (json["type"] != message.type || message.type == "pong") {
        fuzz::fail("handed on the wrong type", text);
    }
    const auto event = json.find("event");
    const bool hasEvent = event != json.end() && !event->is_null();
    if (hasEvent != message.event.has_value()) {
        fuzz::fail("event lost or invented", text);
    }
    if (hasEvent &&
        (!event->is_object() || !event->contains("id") || event->at("id") != message.event->id)) {
        fuzz::fail("handed on an event that is not the text's", text);
    }
}

void checkDropped(const std::string& text)
{
    if (fuzz::nestingDepth(text) > kDecodedDepth) {
        return;
    }
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object()) {
        return;
    }
    const auto type = json.find("type");
    const auto event = json.find("event");
    if (type != json.end() && type->is_string() && *type != "pong" &&
        (event == json.end() || event->is_null())) {
        fuzz::fail("dropped a message without event", text);
    }
}

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static corvane::Harness harness;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto message = harness.deliver(text)) {
        corvane::checkDelivered(text, *message);
    } else {
        corvane::checkDropped(text);
    }
    return 0;
}
