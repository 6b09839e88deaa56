#include "folder_chooser.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

struct ChooserText {
    Q_DECLARE_TR_FUNCTIONS(FolderChooser)
};

} // namespace

std::unique_ptr<QFileDialog> CreateFolderDialog(QWidget* parent, const QString& lastFolder) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    dialog->setObjectName(QStringLiteral("folderChooser"));
    dialog->setWindowTitle(ChooserText::tr("选择测区目录（可按住 Ctrl 多选）"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    // Qt's translations miss some of these labels; set them all so none stays in English.
    dialog->setLabelText(QFileDialog::LookIn, ChooserText::tr("查找范围："));
    dialog->setLabelText(QFileDialog::FileName, ChooserText::tr("目录："));
    dialog->setLabelText(QFileDialog::FileType, ChooserText::tr("类型："));
    dialog->setLabelText(QFileDialog::Accept, ChooserText::tr("选择"));
    dialog->setLabelText(QFileDialog::Reject, ChooserText::tr("取消"));
    // The dialog's views pick one entry by default; blocks are often added several at once.
    for (auto* view : dialog->findChildren<QAbstractItemView*>())
        if (view->objectName() == QLatin1String("listView") ||
            view->objectName() == QLatin1String("treeView"))
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Open where the last folder was added, with that folder picked, so its neighbours are a
    // click away.
    const QFileInfo last(lastFolder);
    if (!lastFolder.isEmpty() && last.isDir()) {
        dialog->setDirectory(last.absolutePath());
        dialog->selectFile(last.fileName());
    } else {
        dialog->setDirectory(QDir::homePath());
    }
    dialog->resize(760, 480);
    return dialog;
}

QStringList ChooseFolders(QWidget* parent, const QString& lastFolder) {
    const std::unique_ptr<QFileDialog> dialog = CreateFolderDialog(parent, lastFolder);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    return dialog->selectedFiles();
}
