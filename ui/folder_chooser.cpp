#include "folder_chooser.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>

namespace {

struct ChooserText {
    Q_DECLARE_TR_FUNCTIONS(FolderChooser)
};

// The dialog's file model words its headers and the type "Folder" in English in places, and
// writes dates in the system's locale rather than the program's; this says them in Chinese.
class ChineseFileModel : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
            switch (section) {
            case 0:
                return ChooserText::tr("名称");
            case 1:
                return ChooserText::tr("大小");
            case 2:
                return ChooserText::tr("类型");
            case 3:
                return ChooserText::tr("修改日期");
            default:
                break;
            }
        }
        return QIdentityProxyModel::headerData(section, orientation, role);
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files && role == Qt::DisplayRole && index.isValid()) {
            const QModelIndex source = mapToSource(index);
            if (index.column() == 2 && files->isDir(source))
                return ChooserText::tr("文件夹");
            if (index.column() == 3)
                return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

} // namespace

std::unique_ptr<QFileDialog> CreateFolderDialog(QWidget* parent, const QString& lastFolder) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    dialog->setObjectName(QStringLiteral("folderChooser"));
    dialog->setWindowTitle(ChooserText::tr("选择测区目录（可按住 Ctrl 多选）"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setProxyModel(new ChineseFileModel(dialog.get()));
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

QString ChooseOutputFolder(QWidget* parent, const QString& current) {
    const std::unique_ptr<QFileDialog> dialog = CreateFolderDialog(parent, current);
    dialog->setObjectName(QStringLiteral("outputFolderChooser"));
    dialog->setWindowTitle(ChooserText::tr("选择 3D Tiles 的输出目录"));
    for (auto* view : dialog->findChildren<QAbstractItemView*>())
        if (view->objectName() == QLatin1String("listView") ||
            view->objectName() == QLatin1String("treeView"))
            view->setSelectionMode(QAbstractItemView::SingleSelection);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return {};
    return dialog->selectedFiles().constFirst();
}
