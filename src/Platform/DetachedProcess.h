#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane {

// Starts helper programs (xdg-open, clipboard tools) that must outlive the request and never
// become zombies of the calling process, which may be the file manager itself. The program is
// started directly (no shell), as the grandchild of the caller, in a session of its own, with
// the caller's environment, standard input from /dev/null or from `input`. Thread-safe.
class DetachedProcess {
public:
    // The absolute path of `program`: as given when it holds a "/", else the first executable of
    // that name on $PATH. Nothing when there is none.
    static std::optional<std::string> findExecutable(const std::string& program);

    // Starts `arguments[0]` (looked up with findExecutable()) with `arguments`, and writes
    // `input` to its standard input. True when the program was found and started; its outcome
    // is not known. Waits only for the start and for `input` to be taken.
    static bool launch(const std::vector<std::string>& arguments,
                       const std::optional<std::string>& input = std::nullopt);
};

}  // namespace corvane
