#pragma once

#include <QString>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The dialog's "导出 3D Tiles" row: a check box, the folder the tilesets go to, and a button
// that picks it. The folder stays in view, greyed, while the box is clear, so the one used
// last is there when the box is checked again.
class CTilesetRow : public QWidget {
    Q_OBJECT
public:
    // Asks the user for one folder, starting at `current` (or the home folder when empty);
    // empty when they changed their mind.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& current)>;

    explicit CTilesetRow(QWidget* parent = nullptr);

    void setFolderChooser(FolderChooser chooser);

    bool isChecked() const;
    void setChecked(bool checked);
    // The folder as typed or chosen, trimmed of the spaces around it.
    QString folderText() const;
    void setFolderText(const QString& folder);
    // Where the tilesets go: empty while the box is clear or the folder field is.
    std::optional<std::filesystem::path> folder() const;

signals:
    void toggled(bool checked);

private slots:
    void OnBrowse();

private:
    void updateEnabled();

    QCheckBox* m_check = nullptr;
    QLineEdit* m_folder = nullptr;
    QPushButton* m_browse = nullptr;
    FolderChooser m_choose;
};
