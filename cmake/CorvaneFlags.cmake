# Warning and sanitizer flags, carried by one INTERFACE target that every
# project target links.
add_library(corvane_flags INTERFACE)
target_compile_options(corvane_flags INTERFACE -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 at -O3 (Release) reports a false -Wrestrict inside std::string for
  # "literal" + std::string&& (GCC bug 105651), which stops every Release build.
  target_compile_options(corvane_flags INTERFACE -Wno-restrict)
endif()

if(CORVANE_SANITIZE STREQUAL "asan-ubsan")
  # The instrumentation makes GCC report uninitialised values that are not (inside std::regex,
  # for one); the plain build keeps that warning as an error.
  set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all
           -Wno-maybe-uninitialized)
elseif(CORVANE_SANITIZE STREQUAL "tsan")
  # -Wno-tsan: GCC warns that Asio's atomic_thread_fence is not instrumented; with -Werror
  # that would stop every Beast/Asio user from building under ThreadSanitizer.
  set(_san -fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
elseif(NOT CORVANE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "CORVANE_SANITIZE must be empty, asan-ubsan or tsan")
endif()
if(_san)
  target_compile_options(corvane_flags INTERFACE ${_san})
  target_link_options(corvane_flags INTERFACE ${_san})
endif()
