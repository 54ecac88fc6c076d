#pragma once

#include <memory>
#include <optional>

#include <QString>

class QWidget;

namespace corvane {

// Asks the user for a folder. The application shows the desktop's folder dialog; tests put a
// recording chooser in its place, so that no test ever opens a modal dialog. Main thread only.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;

    // The chosen folder's absolute path, or nothing when the user cancelled. `prompt` is the
    // confirm button's title, `message` the dialog's caption.
    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& prompt,
                                                const QString& message) = 0;

    // The desktop's modal folder dialog, which can also make new folders.
    static std::shared_ptr<FolderChooser> fileDialog();
};

}  // namespace corvane
