#pragma once

#include <cstdint>
#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "HttpSession.h"

namespace corvane::server {

// Accepts connections and starts one HttpSession per connection, each on its own strand.
// The constructor binds (and throws when it cannot); run() starts accepting. Runs on its own
// strand of the io_context.
class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(boost::asio::io_context& context, const boost::asio::ip::tcp::endpoint& endpoint,
             const HttpSession::Context& sessionContext);

    boost::asio::ip::tcp::endpoint localEndpoint() const;
    void run();

private:
    void accept();
    void onAccept(boost::beast::error_code error, boost::asio::ip::tcp::socket socket);

    boost::asio::io_context& m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    boost::asio::steady_timer m_retry;
    const HttpSession::Context& m_sessionContext;
    std::uint64_t m_accepted = 0;  // connections so far
};

}  // namespace corvane::server
