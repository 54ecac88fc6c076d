#pragma once

#include <filesystem>
#include <string>

#include "Platform/FileURL.h"

namespace corvane {

// Hands URLs to the desktop, which opens them with the user's preferred application, and shows
// files in the file manager. Implementations say which threads may call them.
class Workspace {
public:
    virtual ~Workspace() = default;

    // True when the request was handed on; whether an application opened it is not known.
    virtual bool openURL(const std::string& url) = 0;

    // Shows the file at the absolute path `file` selected in the file manager. A desktop that
    // cannot select files gets the file's folder opened instead, which is all this default does.
    // True when the request was handed on.
    virtual bool selectFile(const std::filesystem::path& file)
    {
        return file.is_absolute() && openURL(fileURL(file.parent_path()));
    }
};

}  // namespace corvane
