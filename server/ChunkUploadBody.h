#pragma once

#include <cstdint>
#include <memory>

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>

#include "ChunkUploadReceiver.h"

namespace corvane::server {

// A Beast request body that hands the bytes to a ChunkUploadReceiver as they are parsed, so an
// upload of any size is streamed to disk instead of collected in memory. Only for reading.
struct ChunkUploadBody {
    using value_type = std::shared_ptr<ChunkUploadReceiver>;

    // The error that ends the read when the receiver failed.
    static inline const boost::beast::error_code kStopped =
        boost::system::errc::make_error_code(boost::system::errc::operation_canceled);

    class reader {
    public:
        template <bool isRequest, class Fields>
        reader(boost::beast::http::header<isRequest, Fields>&, value_type& receiver)
            : m_receiver(receiver)
        {
        }

        void init(const boost::optional<std::uint64_t>&, boost::beast::error_code& error)
        {
            error = {};
        }

        template <class ConstBufferSequence>
        std::size_t put(const ConstBufferSequence& buffers, boost::beast::error_code& error)
        {
            std::size_t total = 0;
            for (auto it = boost::asio::buffer_sequence_begin(buffers);
                 it != boost::asio::buffer_sequence_end(buffers); ++it) {
                const boost::asio::const_buffer buffer = *it;
                // The receiver records its own failures and never throws.
                m_receiver->put(static_cast<const char*>(buffer.data()), buffer.size());
                total += buffer.size();
            }
            // A receiver that failed takes nothing more: the read stops here, and the session
            // answers with the receiver's failure.
            error = m_receiver->failure() ? kStopped : boost::beast::error_code{};
            return total;
        }

        void finish(boost::beast::error_code& error)
        {
            m_receiver->finish();
            error = {};
        }

    private:
        value_type& m_receiver;
    };
};

}  // namespace corvane::server
