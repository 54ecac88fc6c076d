// Asio's and Beast's compiled parts for the server, built once here instead of in every file
// that includes them (the library defines BOOST_ASIO_SEPARATE_COMPILATION and
// BOOST_BEAST_SEPARATE_COMPILATION for its users). The server links no client code, so it has
// its own copy.
#include <boost/asio/impl/src.hpp>
#include <boost/beast/src.hpp>
