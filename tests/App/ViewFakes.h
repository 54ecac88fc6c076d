#pragma once

#include <deque>
#include <optional>
#include <vector>

#include <QString>

#include "App/FolderChooser.h"

namespace corvane::test {

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
