#pragma once

#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include "StoreRecords.h"

namespace corvane::server {

// The seam for the push channel: HttpSession hands over every WebSocket upgrade request of
// Router::kPushPath that passed the test faults and carries a valid bearer token. Without an
// UpgradeHandler such requests are answered like any unknown route (404).
// Called on the connection's strand; the implementation owns the stream from then on and must
// not block.
class UpgradeHandler {
public:
    virtual ~UpgradeHandler() = default;
    virtual void accept(boost::beast::tcp_stream stream,
                        boost::beast::http::request<boost::beast::http::string_body> request,
                        const User& user) = 0;
};

}  // namespace corvane::server
