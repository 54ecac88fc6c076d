#include "Listener.h"

#include <chrono>
#include <iostream>

#include <boost/asio/strand.hpp>
#include <boost/beast/core/bind_handler.hpp>

namespace corvane::server {

namespace net = boost::asio;

Listener::Listener(net::io_context& context, const net::ip::tcp::endpoint& endpoint,
                   const HttpSession::Context& sessionContext)
    : m_context(context), m_acceptor(net::make_strand(context)), m_retry(m_acceptor.get_executor()),
      m_sessionContext(sessionContext)
{
    m_acceptor.open(endpoint.protocol());
    m_acceptor.set_option(net::socket_base::reuse_address(true));
    m_acceptor.bind(endpoint);
    m_acceptor.listen(net::socket_base::max_listen_connections);
}

net::ip::tcp::endpoint Listener::localEndpoint() const
{
    return m_acceptor.local_endpoint();
}

void Listener::run()
{
    accept();
}

void Listener::accept()
{
    m_acceptor.async_accept(
        net::make_strand(m_context),
        boost::beast::bind_front_handler(&Listener::onAccept, shared_from_this()));
}

void Listener::onAccept(boost::beast::error_code error, net::ip::tcp::socket socket)
{
    if (error == net::error::operation_aborted) {
        return;
    }
    if (error) {
        // Out of descriptors and the like: wait a little instead of spinning on the error.
        std::cerr << "accept failed: " << error.message() << std::endl;
        m_retry.expires_after(std::chrono::milliseconds(100));
        m_retry.async_wait(
            [self = shared_from_this()](boost::beast::error_code) { self->accept(); });
        return;
    }
    try {
        std::make_shared<HttpSession>(std::move(socket), m_sessionContext, ++m_accepted)->run();
    } catch (const std::exception& failure) {
        std::cerr << "could not start a session: " << failure.what() << std::endl;
    }
    accept();
}

}  // namespace corvane::server
