#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <QString>

#include "App/FolderChooser.h"
#include "Platform/Workspace.h"

namespace corvane::test {

// Records the URLs the views hand to the desktop. Main thread only.
class RecordingWorkspace final : public Workspace {
public:
    bool openURL(const std::string& url) override
    {
        opened.push_back(url);
        return true;
    }

    std::vector<std::string> opened;
};

// Answers folder choices from a script instead of a modal dialog: each call takes the next
// answer (an empty one being a cancelled dialog); with none left, the dialog counts as
// cancelled. Main thread only.
class RecordingFolderChooser final : public FolderChooser {
public:
    struct Asked {
        QString prompt;
        QString message;
    };

    std::optional<QString> chooseFolder(QWidget*, const QString& prompt,
                                        const QString& message) override
    {
        asked.push_back({prompt, message});
        if (answers.empty()) {
            return std::nullopt;
        }
        const QString answer = answers.front();
        answers.pop_front();
        if (answer.isEmpty()) {
            return std::nullopt;
        }
        return answer;
    }

    std::deque<QString> answers;
    std::vector<Asked> asked;
};

}  // namespace corvane::test
