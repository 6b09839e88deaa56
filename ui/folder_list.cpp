#include "folder_list.h"

#include "path_text.h"

#include "export/scan/folder_identity.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

CFolderList::CFolderList(QWidget* parent) : QListWidget(parent) {
    setSortingEnabled(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Drops come from outside only; the entries are not dragged around.
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
}

void CFolderList::setHint(const QString& hint) {
    m_hint = hint;
    viewport()->update();
}

bool CFolderList::addFolder(const QString& path) {
    std::vector<std::filesystem::path> listed;
    listed.reserve(static_cast<std::size_t>(count()));
    for (int row = 0; row < count(); ++row)
        listed.push_back(brindle::ui::PathFromQString(item(row)->data(PathRole).toString()));
    if (const std::optional<std::size_t> row =
            brindle::FindSameFolder(listed, brindle::ui::PathFromQString(path))) {
        setCurrentRow(static_cast<int>(*row));
        return false;
    }
    auto* item = new QListWidgetItem(QDir::toNativeSeparators(path));
    item->setData(PathRole, path);
    item->setToolTip(QDir::toNativeSeparators(path));
    addItem(item);
    return true;
}

QStringList CFolderList::folders() const {
    QStringList result;
    for (int row = 0; row < count(); ++row)
        result << item(row)->data(PathRole).toString();
    return result;
}

QStringList CFolderList::droppedFolders(const QMimeData* data) {
    QStringList folders;
    if (!data || !data->hasUrls())
        return folders;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir())
            folders << url.toLocalFile();
    return folders;
}

void CFolderList::dragEnterEvent(QDragEnterEvent* event) {
    if (droppedFolders(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CFolderList::dragMoveEvent(QDragMoveEvent* event) {
    if (droppedFolders(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CFolderList::dropEvent(QDropEvent* event) {
    const QStringList folders = droppedFolders(event->mimeData());
    if (folders.isEmpty()) {
        event->ignore();
        return;
    }
    // Copy, never move: the file manager must not delete what was dropped here.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit foldersDropped(folders);
}

void CFolderList::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    if (count() > 0 || m_hint.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const QRect area = viewport()->rect().adjusted(24, 24, -24, -24);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, m_hint);
}
