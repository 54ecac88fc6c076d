#include "HttpSession.h"

#include <chrono>
#include <iostream>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "FaultAnswer.h"
#include "FileBody.h"
#include "MultipartParser.h"
#include "RequestRecorder.h"
#include "Router.h"
#include "SyncApi.h"
#include "UpgradeHandler.h"

namespace corvane::server {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;

namespace {

constexpr std::uint32_t kHeaderLimit = 16 * 1024;
// Room for the multipart framing around the largest upload.
constexpr std::uint64_t kUploadBodyLimit = SyncApi::kMaxUploadBytes + 64 * 1024;
constexpr const char* kChunkPath = "/api/sync/upload/chunk";
// Beast reads into what the buffer can hold without growing (at least 512 bytes); an upload read
// in 512-byte steps costs a thread hop per step and caps the server near 40 MB/s.
constexpr std::size_t kUploadReadBytes = 256 * 1024;
constexpr const char* kTestPrefix = "/__test/";
// After an answer to a request whose body was not read to its end: how long, and how much, of
// the rest is read and dropped before the connection closes.
constexpr std::chrono::milliseconds kLingerTime{2'000};
constexpr std::size_t kLingerBytes = 1024 * 1024;
constexpr std::size_t kDrainReadBytes = 16 * 1024;

std::string lowerCase(beast::string_view text)
{
    std::string lower(text.data(), text.size());
    for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// Runs one step of the session; an exception ends the connection instead of the I/O thread.
template <class Function>
void guarded(const char* step, Function&& function) noexcept
{
    try {
        function();
    } catch (const std::exception& error) {
        std::cerr << "connection error in " << step << ": " << error.what() << std::endl;
    } catch (...) {
        std::cerr << "connection error in " << step << std::endl;
    }
}

}  // namespace

HttpSession::HttpSession(net::ip::tcp::socket&& socket, const Context& context,
                         std::uint64_t connection)
    : m_stream(std::move(socket)), m_context(context), m_connection(connection),
      m_timer(m_stream.get_executor())
{
    ErrorCode ignored;
    m_peer = m_stream.socket().remote_endpoint(ignored).address().to_string();
}

void HttpSession::run()
{
    net::dispatch(m_stream.get_executor(),
                  beast::bind_front_handler(&HttpSession::readHeader, shared_from_this()));
}

void HttpSession::readHeader()
{
    guarded("read", [&] {
        m_request = Request{};
        m_fault.reset();
        m_bodyReceived = 0;
        m_bodyUnread = false;
        m_stringParser.reset();
        m_uploadParser.reset();
        m_headerParser.emplace();
        m_headerParser->header_limit(kHeaderLimit);
        // The limit that fits the route is set once the target is known (startBody).
        m_headerParser->body_limit(kUploadBodyLimit);
        m_stream.expires_after(m_context.idleTimeout);
        http::async_read_header(
            m_stream, m_buffer, *m_headerParser,
            [self = shared_from_this()](ErrorCode error, std::size_t) { self->onHeader(error); });
    });
}

void HttpSession::onHeader(ErrorCode error)
{
    if (error == http::error::end_of_stream || error == beast::error::timeout ||
        error == net::error::operation_aborted || error == net::error::connection_reset ||
        error == net::error::eof) {
        return close();
    }
    if (error) {
        return answerAndClose(400, "malformed request: " + error.message());
    }
    guarded("header", [&] {
        const auto& header = m_headerParser->get();
        m_version = header.version();
        m_keepAlive = header.keep_alive();
        m_request.method = std::string(header.method_string());
        m_request.target = std::string(header.target());
        m_request.peer = m_peer;
        std::tie(m_request.path, m_request.query) = Request::splitTarget(m_request.target);
        for (const auto& field : header) {
            auto& value = m_request.headers[lowerCase(field.name_string())];
            const std::string text(field.value().data(), field.value().size());
            value += value.empty() ? text : ", " + text;
        }
        startBody();
    });
}

void HttpSession::startBody()
{
    const bool isTestRoute = m_request.path.starts_with(kTestPrefix);
    const bool isUpload = m_request.method == "POST" && m_request.path == kChunkPath;
    if (m_context.faults && !isTestRoute) {
        m_fault = m_context.faults->take(m_request.path, m_request.method);
    }
    m_request.account = m_context.router.authenticate(m_request);
    m_bodyUnread = !m_headerParser->is_done();
    m_bodyStart = std::chrono::steady_clock::now();
    // A fault comes before authentication: a test may fake any answer to any caller.
    if (!m_request.account && !m_fault && m_context.router.needsAccount(m_request)) {
        return refuseWithoutAccount();
    }
    const std::uint64_t limit = bodyLimit(isUpload, isTestRoute);
    if (const auto length = m_headerParser->content_length(); length && *length > limit) {
        return answerAndClose(413, "request body too large");
    }
    if (isUpload) {
        // Without a valid token (only under a test fault) the receiver takes nothing, so the
        // read stops at once and nothing is written.
        std::optional<std::string> boundary;
        ChunkUploadReceiver::DeclaredSize declaredSize;
        if (m_request.account) {
            boundary = MultipartParser::boundaryOf(m_request.header("content-type").value_or(""));
            declaredSize = [&router = m_context.router,
                            account = *m_request.account](const std::string& uploadId) {
                return router.pendingUploadSize(account, uploadId);
            };
        }
        const std::size_t recordLimit = m_context.recorder ? RequestRecorder::kBodyLimit : 0;
        m_request.upload = std::make_shared<ChunkUploadReceiver>(
            std::move(boundary), std::move(declaredSize), m_context.tempDir, recordLimit);
        m_uploadParser.emplace(std::move(*m_headerParser));
        m_uploadParser->body_limit(limit);
        m_uploadParser->get().body() = m_request.upload;
        m_buffer.reserve(kUploadReadBytes);
    } else {
        m_stringParser.emplace(std::move(*m_headerParser));
        m_stringParser->body_limit(limit);
    }
    m_headerParser.reset();

    const auto expect = m_request.header("expect");
    if (!m_bodyUnread || !expect || lowerCase(*expect) != "100-continue") {
        return readBody();
    }
    // curl waits for this before it sends a large body.
    auto interim =
        std::make_shared<http::response<http::empty_body>>(http::status::continue_, m_version);
    m_stream.expires_after(m_context.idleTimeout);
    http::async_write(m_stream, *interim,
                      [self = shared_from_this(), interim](ErrorCode error, std::size_t) {
                          if (error) {
                              return self->close();
                          }
                          guarded("continue", [&] { self->readBody(); });
                      });
}

std::uint64_t HttpSession::bodyLimit(bool isUpload, bool isTestRoute) const
{
    if (isUpload) {
        return kUploadBodyLimit;
    }
    return m_request.account || isTestRoute ? kJsonBodyLimit : kUnauthenticatedBodyLimit;
}

std::chrono::steady_clock::time_point HttpSession::bodyDeadline() const
{
    if (!m_request.account) {
        return m_bodyStart + std::min(m_context.unauthenticatedTimeout, m_context.idleTimeout);
    }
    const std::chrono::milliseconds earned(
        static_cast<std::int64_t>(m_bodyReceived * 1000 / kMinBodyBytesPerSecond));
    return std::min(std::chrono::steady_clock::now() + m_context.idleTimeout,
                    m_bodyStart + m_context.idleTimeout + earned);
}

void HttpSession::readBody()
{
    if (m_uploadParser) {
        return readUploadSome();
    }
    if (m_stringParser->is_done()) {
        return onStringBody({});
    }
    m_stream.expires_at(bodyDeadline());
    http::async_read(
        m_stream, m_buffer, *m_stringParser,
        [self = shared_from_this()](ErrorCode error, std::size_t) { self->onStringBody(error); });
}

void HttpSession::onStringBody(ErrorCode error)
{
    if (error == http::error::body_limit) {
        return answerAndClose(413, "request body too large");
    }
    if (error) {
        return close();
    }
    m_bodyUnread = false;
    guarded("body", [&] {
        m_request.body = m_stringParser->get().body();
        onRequest();
    });
}

void HttpSession::readUploadSome()
{
    guarded("upload", [&] {
        if (m_uploadParser->is_done()) {
            return onUploadSome({}, 0);
        }
        m_stream.expires_at(bodyDeadline());
        http::async_read_some(m_stream, m_buffer, *m_uploadParser,
                              [self = shared_from_this()](ErrorCode error, std::size_t bytes) {
                                  self->onUploadSome(error, bytes);
                              });
    });
}

void HttpSession::onUploadSome(ErrorCode error, std::size_t bytes)
{
    m_bodyReceived += bytes;
    if (error == ChunkUploadBody::kStopped) {
        // The receiver will take no more (a bad body, an unknown upload, content past the
        // declared size): answer now, and end the connection after the answer.
        m_keepAlive = false;
        return guarded("upload", [&] { onRequest(); });
    }
    if (error == http::error::body_limit) {
        return answerAndClose(413, "request body too large");
    }
    if (error) {
        return close();  // the receiver removes its temp file with the session
    }
    if (!m_uploadParser->is_done()) {
        return readUploadSome();
    }
    m_bodyUnread = false;
    guarded("upload", [&] { onRequest(); });
}

void HttpSession::refuseWithoutAccount()
{
    record();
    if (m_bodyUnread) {
        m_keepAlive = false;  // the body is never read
    }
    answer(Response::error(401, "unauthorized"));
}

void HttpSession::record()
{
    if (m_context.recorder && !m_request.path.starts_with(kTestPrefix)) {
        m_context.recorder->record(
            m_connection, m_request.method, m_request.target, m_request.headers,
            m_request.upload ? m_request.upload->recordedBody() : m_request.body);
    }
}

void HttpSession::onRequest()
{
    record();
    if (m_fault && m_fault->delay.count() > 0) {
        m_timer.expires_after(m_fault->delay);
        m_timer.async_wait([self = shared_from_this()](ErrorCode error) {
            if (error) {
                return self->close();
            }
            guarded("fault", [&] { self->proceed(); });
        });
        return;
    }
    proceed();
}

void HttpSession::proceed()
{
    if (m_fault && m_fault->push) {
        // Before the route runs: it arrives ahead of the change it causes.
        m_context.router.pushToAccountOf(m_request, m_fault->push);
    }
    if (m_fault && m_fault->cut) {
        return cutConnection(*m_fault);
    }
    if (m_fault && m_fault->status) {
        Response response;
        response.status = *m_fault->status;
        if (m_fault->body) {
            response.body = *m_fault->body;
            response.contentType = m_fault->contentType.value_or("text/plain");
        } else {
            response = Response::error(*m_fault->status, "injected fault");
            response.contentType = m_fault->contentType.value_or("application/json");
        }
        return answer(std::move(response));
    }
    if (handOverUpgrade()) {
        return;
    }
    Response response = m_context.router.handle(m_request);
    if (m_fault) {
        FaultAnswer::apply(*m_fault, response);
    }
    answer(std::move(response));
}

bool HttpSession::handOverUpgrade()
{
    if (!m_context.upgrade || !m_stringParser || m_request.path != Router::kPushPath ||
        !beast::websocket::is_upgrade(m_stringParser->get())) {
        return false;
    }
    if (!m_request.account) {
        answer(Response::error(401, "unauthorized"));
        return true;
    }
    m_stream.expires_never();
    m_context.upgrade->accept(std::move(m_stream), m_stringParser->release(), *m_request.account);
    return true;
}

void HttpSession::answer(Response response)
{
    // An upload's temporary file goes before the answer does: whoever has the answer sees no
    // trace of the request left on disk.
    m_request.upload.reset();
    m_uploadParser.reset();
    if (!response.file.empty()) {
        FileBody::value_type body;
        ErrorCode error;
        body.file.open(response.file.c_str(), beast::file_mode::scan, error);
        if (!error) {
            body.size = body.file.size(error);
        }
        if (!error) {
            auto message = std::make_shared<http::response<FileBody>>(
                std::piecewise_construct, std::make_tuple(std::move(body)),
                std::make_tuple(http::status::ok, m_version));
            message->set(http::field::server, "corvane-server");
            message->set(http::field::content_type, response.contentType);
            message->keep_alive(m_keepAlive);
            message->prepare_payload();
            return write(std::move(message));
        }
        response = Response::error(404, "content not found");
    }
    auto message = std::make_shared<http::response<http::string_body>>();
    message->version(m_version);
    message->result(static_cast<unsigned>(response.status));
    message->set(http::field::server, "corvane-server");
    for (const auto& [name, value] : response.headers) {
        message->set(name, value);
    }
    const bool bodyless = response.status < 200 || response.status == 204 || response.status == 304;
    if (!bodyless) {
        message->set(http::field::content_type, response.contentType);
        message->body() = std::move(response.body);
    }
    message->keep_alive(m_keepAlive);
    message->prepare_payload();
    write(std::move(message));
}

void HttpSession::answerAndClose(int status, const std::string& message)
{
    guarded("answer", [&] {
        m_keepAlive = false;
        answer(Response::error(status, message));
    });
}

void HttpSession::cutConnection(const Fault& fault)
{
    const int status = fault.status.value_or(200);
    const std::string body = fault.body.value_or("{\"error\":\"injected fault\"}");
    const std::string sent = body.substr(0, body.size() / 2);
    auto text = std::make_shared<std::string>(
        "HTTP/1.1 " + std::to_string(status) + " " +
        std::string(http::obsolete_reason(static_cast<http::status>(status))) +
        "\r\nContent-Type: " + fault.contentType.value_or("application/json") +
        "\r\nContent-Length: " + std::to_string(body.size() + 1024) + "\r\n\r\n" + sent);
    m_stream.expires_after(m_context.idleTimeout);
    net::async_write(m_stream, net::buffer(*text),
                     [self = shared_from_this(), text](ErrorCode, std::size_t) { self->close(); });
}

template <class Message>
void HttpSession::write(std::shared_ptr<Message> message)
{
    using Serializer = http::serializer<false, typename Message::body_type>;
    auto serializer = std::make_shared<Serializer>(*message);
    writeSome(std::move(message), std::move(serializer));
}

template <class Message, class Serializer>
void HttpSession::writeSome(std::shared_ptr<Message> message,
                            std::shared_ptr<Serializer> serializer)
{
    // A fresh timeout per write step: a large download may take long, a stalled reader may not.
    m_stream.expires_after(m_context.idleTimeout);
    auto& serializerRef = *serializer;
    http::async_write_some(
        m_stream, serializerRef,
        [self = shared_from_this(), message, serializer](ErrorCode error, std::size_t) {
            if (error) {
                return self->close();
            }
            if (!serializer->is_done()) {
                return guarded("write", [&] { self->writeSome(message, serializer); });
            }
            self->afterWrite(message->need_eof());
        });
}

void HttpSession::afterWrite(bool close)
{
    if (close || !m_keepAlive) {
        return endAfterAnswer();
    }
    readHeader();
}

void HttpSession::endAfterAnswer()
{
    if (!m_bodyUnread) {
        return close();
    }
    // Closing while the request's bytes still come in would reset the connection, and a reset
    // can destroy the answer before the peer has read it. So only the sending side closes now,
    // and what still arrives is read and dropped, for a short while and up to a bound.
    ErrorCode ignored;
    m_stream.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
    m_stream.expires_after(
        std::min<std::chrono::milliseconds>(kLingerTime, m_context.unauthenticatedTimeout));
    m_buffer.clear();
    drainSome(0);
}

void HttpSession::drainSome(std::size_t drained)
{
    if (drained >= kLingerBytes) {
        return close();
    }
    m_stream.async_read_some(
        m_buffer.prepare(kDrainReadBytes),
        [self = shared_from_this(), drained](ErrorCode error, std::size_t bytes) {
            if (error) {
                return self->close();
            }
            self->drainSome(drained + bytes);
        });
}

void HttpSession::close()
{
    ErrorCode ignored;
    m_timer.cancel();
    m_stream.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
    m_stream.close();
}

}  // namespace corvane::server
