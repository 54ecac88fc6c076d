# Warning and sanitizer flags, carried by one INTERFACE target that every
# project target links.
add_library(corvane_flags INTERFACE)
target_compile_options(corvane_flags INTERFACE -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 at -O3 (Release) reports a false -Wrestrict inside std::string for
  # "literal" + std::string&& (GCC bug 105651), which stops every Release build.
  target_compile_options(corvane_flags INTERFACE -Wno-restrict)
endif()

if(CORVANE_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CORVANE_BUILD_FUZZ needs clang++ (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(NOT CORVANE_SANITIZE STREQUAL "")
    message(FATAL_ERROR "CORVANE_BUILD_FUZZ brings its own sanitizers; leave CORVANE_SANITIZE empty")
  endif()
  # Every library gets coverage feedback for the fuzzer and the sanitizers' checks; only the
  # fuzz targets link libFuzzer's main (fuzz/CMakeLists.txt).
  target_compile_options(corvane_flags INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                 -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(corvane_flags INTERFACE -fsanitize=address,undefined)
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

option(CORVANE_LINE_TABLES_ONLY
       "Debug information: line tables and inlined frames only (scripts/test's folders)" OFF)
if(CORVANE_LINE_TABLES_ONLY OR CORVANE_BUILD_FUZZ OR NOT CORVANE_SANITIZE STREQUAL "")
  # Line tables and inlined frames only: stack traces (a failed test's, a sanitizer's, the
  # fuzzer's) read the same and the code is the same, while the Beast-heavy files compile in
  # about 70% of the time and two thirds of the memory, and a test tree takes a fraction of
  # the disk (every test executable links the whole core). The debug sections are compressed
  # as well: their long symbol names are most of an instrumented test executable's size, and
  # the sanitizers' and the debugger's readers decompress them.
  target_compile_options(corvane_flags INTERFACE -g1 -gz)
  target_link_options(corvane_flags INTERFACE -gz)
endif()
