# corvane_add_beast_library(<name> <source> [<library>...])
# A static library holding Boost.Asio's and Boost.Beast's compiled parts: <source> is the one
# file that includes their src.hpp. Every file of a target that links it sees Asio and Beast as
# declarations (BOOST_ASIO_SEPARATE_COMPILATION, BOOST_BEAST_SEPARATE_COMPILATION) instead of
# compiling their implementation once more. The libraries given are what the source needs
# besides Boost and threads (OpenSSL for Asio's TLS).
function(corvane_add_beast_library name source)
  add_library(${name} STATIC ${source})
  target_compile_definitions(${name} PUBLIC BOOST_ASIO_SEPARATE_COMPILATION
                                            BOOST_BEAST_SEPARATE_COMPILATION)
  target_link_libraries(${name} PUBLIC corvane_flags Boost::headers Threads::Threads ${ARGN})
endfunction()
