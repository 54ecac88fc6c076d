#pragma once

#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace corvane::test {

// Starts `argv[0]` (looked up on PATH when it has no "/") with the descriptors of `redirects`
// (from, to) moved into place, and returns its pid. The child is killed when the thread that
// started it ends: a test that dies (a sanitizer report, a crash) leaves no server or bus behind
// that would hold CTest's output pipe open and keep the run waiting. Throws when it cannot start.
pid_t spawnTiedChild(const std::vector<std::string>& argv,
                     const std::vector<std::pair<int, int>>& redirects = {});

}  // namespace corvane::test
