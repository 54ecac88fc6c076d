#include "API/WebSocketEvent.h"

#include <ostream>

namespace corvane {
namespace {

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

std::ostream& operator<<(std::ostream& out, const WebSocketEvent& event)
{
    std::visit(
        Overloaded{
            [&](const WebSocketConnected& connected) {
                out << "connected(" << connected.headers.size() << " headers)";
            },
            [&](const WebSocketDisconnected& disconnected) {
                out << "disconnected(code " << disconnected.code << ", \"" << disconnected.reason
                    << "\")";
            },
            [&](const WebSocketText& text) { out << "text(\"" << text.text << "\")"; },
            [&](const WebSocketBinary& binary) {
                out << "binary(" << binary.data.size() << " bytes)";
            },
            [&](const WebSocketPing& ping) { out << "ping(" << ping.data.size() << " bytes)"; },
            [&](const WebSocketPong& pong) { out << "pong(" << pong.data.size() << " bytes)"; },
            [&](const WebSocketPeerClosed&) { out << "peerClosed"; },
            [&](const WebSocketError& error) {
                out << "error(" << (error.message ? "\"" + *error.message + "\"" : "none") << ")";
            },
            [&](const WebSocketCancelled&) { out << "cancelled"; },
        },
        event);
    return out;
}

}  // namespace corvane
