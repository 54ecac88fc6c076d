#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include "ChunkUploadBody.h"
#include "FaultInjector.h"
#include "Request.h"
#include "Response.h"

namespace corvane::server {

class RequestRecorder;
class Router;
class UpgradeHandler;

// One HTTP/1.1 connection: reads a request header, looks up its bearer token, then reads the
// body with a limit and a time-out that fit the route and the caller (JSON bodies in memory,
// chunk uploads streamed to disk), applies test faults, routes it and writes the answer;
// keep-alive loops back to the next request.
//
// What a request may cost before anyone knows who sent it stays small: a request for an
// account's route without a valid token is answered 401 before its body is read; other bodies
// without a valid token (sign-in, unknown routes; the test routes keep kJsonBodyLimit) are held
// to kUnauthenticatedBodyLimit, and every one must arrive whole within the short unauthenticated
// time-out. A time-out covers a whole body, not each read: an
// account's body must keep up kMinBodyBytesPerSecond after the idle time-out (so an upload of
// any size goes through at a sound speed, and one trickling in is cut off), and no single wait
// may pass the idle time-out. Runs on the connection's strand only; one write in flight at a
// time.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    static constexpr std::chrono::milliseconds kIdleTimeout{30'000};
    static constexpr std::chrono::milliseconds kUnauthenticatedTimeout{5'000};

    struct Context {
        const Router& router;
        FaultInjector* faults;      // null without --test-faults
        RequestRecorder* recorder;  // null without --test-faults
        UpgradeHandler* upgrade;    // null until the push channel exists
        std::filesystem::path tempDir;
        // How long one read or write step may wait for the peer, and a header may take.
        std::chrono::milliseconds idleTimeout = kIdleTimeout;
        // How long a body without a valid token may take, as a whole (at most idleTimeout).
        std::chrono::milliseconds unauthenticatedTimeout = kUnauthenticatedTimeout;
    };

    static constexpr std::uint64_t kJsonBodyLimit = 1024 * 1024;
    static constexpr std::uint64_t kUnauthenticatedBodyLimit = 16 * 1024;
    static constexpr std::uint64_t kMinBodyBytesPerSecond = 16 * 1024;

    // `connection` numbers the connection (for the request recorder).
    HttpSession(boost::asio::ip::tcp::socket&& socket, const Context& context,
                std::uint64_t connection);

    void run();

private:
    using ErrorCode = boost::beast::error_code;

    void readHeader();
    void onHeader(ErrorCode error);
    void startBody();
    void readBody();
    std::uint64_t bodyLimit(bool isUpload, bool isTestRoute) const;
    // When the rest of the body must have arrived by, as things stand.
    std::chrono::steady_clock::time_point bodyDeadline() const;
    void onStringBody(ErrorCode error);
    void readUploadSome();
    void onUploadSome(ErrorCode error, std::size_t bytes);
    void refuseWithoutAccount();
    void record();
    void onRequest();
    void proceed();
    bool handOverUpgrade();

    void answer(Response response);
    void answerAndClose(int status, const std::string& message);
    void cutConnection(const Fault& fault);
    template <class Message>
    void write(std::shared_ptr<Message> message);
    template <class Message, class Serializer>
    void writeSome(std::shared_ptr<Message> message, std::shared_ptr<Serializer> serializer);
    void afterWrite(bool close);
    void endAfterAnswer();
    void drainSome(std::size_t drained);
    void close();

    boost::beast::tcp_stream m_stream;
    boost::beast::flat_buffer m_buffer;
    const Context& m_context;
    const std::uint64_t m_connection;
    std::string m_peer;  // the client's IP address
    boost::asio::steady_timer m_timer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>>
        m_headerParser;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>>
        m_stringParser;
    std::optional<boost::beast::http::request_parser<ChunkUploadBody>> m_uploadParser;
    Request m_request;
    std::optional<Fault> m_fault;  // taken when the header came
    std::chrono::steady_clock::time_point m_bodyStart;
    std::uint64_t m_bodyReceived = 0;  // upload bytes so far
    bool m_bodyUnread = false;         // part of the body may still be on its way
    unsigned m_version = 11;
    bool m_keepAlive = true;
};

}  // namespace corvane::server
