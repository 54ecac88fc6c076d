#include "App/FolderChooser.h"

#include <QFileDialog>

namespace corvane {
namespace {

class FileDialogFolderChooser final : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget* parent, const QString& prompt,
                                        const QString& message) override
    {
        QFileDialog dialog(parent, message);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setLabelText(QFileDialog::Accept, prompt);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().constFirst();
    }
};

}  // namespace

std::shared_ptr<FolderChooser> FolderChooser::fileDialog()
{
    return std::make_shared<FileDialogFolderChooser>();
}

}  // namespace corvane
