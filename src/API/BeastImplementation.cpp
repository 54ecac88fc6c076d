// Asio's and Beast's compiled parts for the client, built once here instead of in every file
// that includes them (the library defines BOOST_ASIO_SEPARATE_COMPILATION and
// BOOST_BEAST_SEPARATE_COMPILATION for its users).
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
#include <boost/beast/src.hpp>
