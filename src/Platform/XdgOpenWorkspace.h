#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Workspace.h"

namespace corvane {

class SerialQueue;

// Opens URLs with xdg-open (or another opener given as a program name or path), started
// directly with the URL as its one argument, never through a shell. Selects files through the
// file manager's org.freedesktop.FileManager1.ShowItems on the session bus (or the bus at
// `busAddress`), and opens the file's folder with the opener when no file manager answers that
// call. Thread-safe; destruction waits for a selection already asked for.
class XdgOpenWorkspace final : public Workspace {
public:
    static constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";

    explicit XdgOpenWorkspace(std::string opener = "xdg-open",
                              std::optional<std::string> busAddress = std::nullopt);
    ~XdgOpenWorkspace() override;

    // False for an empty URL, one that an opener could read as an option ("-" first), or when
    // the opener cannot be started.
    bool openURL(const std::string& url) override;

    // Returns at once: the file manager is asked on a queue of its own
    // ("com.corvane.workspace"), which waits for its answer and falls back to the folder. False
    // only for a path that is not absolute.
    bool selectFile(const std::filesystem::path& file) override;

private:
    // True when a file manager took the request.
    bool showItem(const std::filesystem::path& file) const;
    SerialQueue& queue();

    const std::string m_opener;
    const std::optional<std::string> m_busAddress;
    std::once_flag m_queueMade;
    std::unique_ptr<SerialQueue> m_queue;  // made at the first selection
};

}  // namespace corvane
