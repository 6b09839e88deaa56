#include "tileset_row.h"

#include "folder_chooser.h"
#include "path_text.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

CTilesetRow::CTilesetRow(QWidget* parent) : QWidget(parent), m_choose(ChooseOutputFolder) {
    m_check = new QCheckBox(tr("导出 3D Tiles"), this);
    m_check->setObjectName(QStringLiteral("tilesetCheck"));
    m_folder = new QLineEdit(this);
    m_folder->setObjectName(QStringLiteral("tilesetFolder"));
    m_folder->setPlaceholderText(tr("输出目录"));
    // A tileset per listed folder goes into a folder of the same name in here.
    m_folder->setToolTip(tr("每个测区的 3D Tiles 写入此目录下与测区同名的子目录"));
    m_browse = new QPushButton(tr("浏览..."), this);
    m_browse->setObjectName(QStringLiteral("tilesetBrowse"));
    // Enter belongs to the dialog's OK.
    m_browse->setAutoDefault(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_check);
    layout->addWidget(m_folder, 1);
    layout->addWidget(m_browse);

    connect(m_check, &QCheckBox::toggled, this, [this](bool checked) {
        updateEnabled();
        emit toggled(checked);
    });
    connect(m_browse, &QPushButton::clicked, this, &CTilesetRow::OnBrowse);
    updateEnabled();
}

void CTilesetRow::setFolderChooser(FolderChooser chooser) {
    m_choose = std::move(chooser);
}

bool CTilesetRow::isChecked() const {
    return m_check->isChecked();
}

void CTilesetRow::setChecked(bool checked) {
    m_check->setChecked(checked);
}

QString CTilesetRow::folderText() const {
    return m_folder->text().trimmed();
}

void CTilesetRow::setFolderText(const QString& folder) {
    m_folder->setText(folder);
}

std::optional<std::filesystem::path> CTilesetRow::folder() const {
    if (!isChecked() || folderText().isEmpty())
        return std::nullopt;
    return brindle::ui::PathFromQString(folderText());
}

void CTilesetRow::OnBrowse() {
    const QString chosen = m_choose(window(), folderText());
    if (!chosen.isEmpty())
        m_folder->setText(chosen);
}

void CTilesetRow::updateEnabled() {
    m_folder->setEnabled(m_check->isChecked());
    m_browse->setEnabled(m_check->isChecked());
}
