#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/file.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>

namespace corvane::server {

// A response body sent from an open file in large pieces. Beast's file_body reads 4 KiB per
// write step, which makes the server, not the client, the limit of a download on loopback.
// Only for writing.
struct FileBody {
    static constexpr std::size_t kPieceBytes = 256 * 1024;

    struct value_type {
        boost::beast::file file;
        std::uint64_t size = 0;
    };

    static std::uint64_t size(const value_type& body) { return body.size; }

    class writer {
    public:
        using const_buffers_type = boost::asio::const_buffer;

        template <bool isRequest, class Fields>
        writer(const boost::beast::http::header<isRequest, Fields>&, value_type& body)
            : m_body(body)
        {
        }

        void init(boost::beast::error_code& error) { error = {}; }

        boost::optional<std::pair<const_buffers_type, bool>> get(boost::beast::error_code& error)
        {
            const std::uint64_t left = m_body.size - m_sent;
            if (left == 0) {
                error = {};
                return boost::none;
            }
            if (m_piece.empty()) {
                m_piece.resize(kPieceBytes);
            }
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, kPieceBytes));
            const std::size_t got = m_body.file.read(m_piece.data(), wanted, error);
            if (error) {
                return boost::none;
            }
            if (got == 0) {
                // The file became shorter than the Content-Length already sent.
                error = boost::beast::http::error::short_read;
                return boost::none;
            }
            m_sent += got;
            return std::make_pair(const_buffers_type(m_piece.data(), got), m_sent < m_body.size);
        }

    private:
        value_type& m_body;
        std::uint64_t m_sent = 0;
        std::vector<char> m_piece;
    };
};

}  // namespace corvane::server
