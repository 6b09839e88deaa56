#pragma once

#include <QListWidget>
#include <QStringList>

class QMimeData;

// The list of folders to export: kept sorted, each folder once, takes folders dropped from a
// file manager and shows a hint while it is empty. Each entry keeps the path exactly as it was
// given in its item data; the text shown uses the system's separators.
class CFolderList : public QListWidget {
    Q_OBJECT
public:
    static constexpr int PathRole = Qt::UserRole;

    explicit CFolderList(QWidget* parent = nullptr);

    void setHint(const QString& hint);
    QString hint() const { return m_hint; }

    // Adds `path` unless the folder it names is listed already, under this or another
    // spelling ("A/", a link to A): that entry is selected instead, and false returned.
    bool addFolder(const QString& path);
    // The paths as given, top to bottom.
    QStringList folders() const;

    // The local folders among the dropped URLs; files and remote URLs are not folders to list.
    static QStringList droppedFolders(const QMimeData* data);

signals:
    void foldersDropped(const QStringList& folders);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_hint;
};
