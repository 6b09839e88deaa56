#include "results_dialog.h"

#include <QAction>
#include <QClipboard>
#include <QColor>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using brindle::ui::ReportWording;

namespace {

constexpr std::size_t kExpandedLeftOutMax = 50;

// An error or warning: one sentence across the whole row, under its folder.
QTreeWidgetItem* addSentence(QTreeWidgetItem* folder, const QString& text, const QColor& color) {
    auto* item = new QTreeWidgetItem(folder, QStringList{text});
    item->setToolTip(0, text);
    item->setForeground(0, color);
    return item;
}

} // namespace

CResultsDlg::CResultsDlg(const brindle::ExportReport& report, QWidget* parent)
    : QDialog(parent), m_text(ReportWording::describe(report)) {
    setObjectName(QStringLiteral("exportResults"));
    setWindowTitle(tr("导出结果"));
    setSizeGripEnabled(true);

    auto* headline = new QLabel(m_text.headline, this);
    headline->setObjectName(QStringLiteral("resultsHeadline"));
    QFont large = headline->font();
    large.setPointSizeF(large.pointSizeF() * 1.4);
    large.setBold(true);
    headline->setFont(large);

    auto* summary = new QLabel(m_text.summary, this);
    summary->setObjectName(QStringLiteral("resultsSummary"));
    summary->setWordWrap(true);

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("resultsTree"));
    m_tree->setHeaderLabels(ReportWording::columnTitles());
    // Thousands of rows of one line each: uniform heights keep scrolling cheap.
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setTextElideMode(Qt::ElideMiddle);
    fillTree();
    // The tree would copy only its current cell on Ctrl+C; the user wants the whole report.
    m_tree->installEventFilter(this);

    auto* buttons = new QDialogButtonBox(this);
    auto* copy = buttons->addButton(tr("复制报告"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyButton"));
    copy->setAutoDefault(false);
    auto* close = buttons->addButton(tr("关闭"), QDialogButtonBox::AcceptRole);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    connect(copy, &QPushButton::clicked, this, &CResultsDlg::copyReport);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    // Ctrl+C copies the whole report, wherever the focus is in the window, rather than the
    // tree's current cell alone.
    auto* copyAction = new QAction(tr("复制报告"), this);
    copyAction->setObjectName(QStringLiteral("copyAction"));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WindowShortcut);
    connect(copyAction, &QAction::triggered, this, &CResultsDlg::copyReport);
    addAction(copyAction);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(headline);
    layout->addWidget(summary);
    layout->addWidget(m_tree, 1);
    layout->addWidget(buttons);
    resize(860, 520);
    close->setFocus();
}

void CResultsDlg::fillTree() {
    QList<QTreeWidgetItem*> folders;
    QList<QTreeWidgetItem*> sentences;
    for (const brindle::ui::FolderText& folder : m_text.folders) {
        auto* item = new QTreeWidgetItem(
            QStringList{folder.folder, folder.status, folder.entries, folder.translation});
        item->setToolTip(0, folder.folder);
        item->setToolTip(3, folder.translation);
        if (!folder.ok) {
            QFont bold = item->font(1);
            bold.setBold(true);
            item->setFont(1, bold);
            item->setForeground(1, QColor(0xb0, 0x00, 0x20));
        }
        if (!folder.error.isEmpty())
            sentences << addSentence(item, tr("错误：%1").arg(folder.error),
                                     QColor(0xb0, 0x00, 0x20));
        for (const QString& warning : folder.warnings)
            sentences << addSentence(item, tr("警告：%1").arg(warning), QColor(0x8a, 0x5a, 0x00));
        if (!folder.leftOut.empty()) {
            auto* group = new QTreeWidgetItem(
                item, QStringList{ReportWording::leftOutGroup(folder.leftOut.size())});
            sentences << group;
            QList<QTreeWidgetItem*> rows;
            rows.reserve(static_cast<int>(folder.leftOut.size()));
            for (const brindle::ui::LeftOutText& leftOut : folder.leftOut) {
                auto* row = new QTreeWidgetItem(QStringList{leftOut.name, leftOut.reason});
                row->setToolTip(0, leftOut.name);
                row->setToolTip(1, leftOut.reason);
                rows << row;
            }
            group->addChildren(rows);
        }
        folders << item;
    }
    m_tree->addTopLevelItems(folders);
    // Spanning and expanding take effect only once the items are in the tree.
    for (QTreeWidgetItem* sentence : sentences) {
        sentence->setFirstColumnSpanned(true);
        // A long list of left-out subfolders starts collapsed so the other folders stay in
        // sight; its row gives the count.
        if (sentence->childCount() > 0)
            sentence->setExpanded(static_cast<std::size_t>(sentence->childCount()) <=
                                  kExpandedLeftOutMax);
    }
    for (QTreeWidgetItem* folder : folders)
        folder->setExpanded(true);

    m_tree->setColumnWidth(0, 320);
    m_tree->resizeColumnToContents(1);
    m_tree->setColumnWidth(1, qMin(m_tree->columnWidth(1), 280));
    m_tree->resizeColumnToContents(2);
    m_tree->header()->setStretchLastSection(true);
}

QString CResultsDlg::reportText() const {
    return ReportWording::plainText(m_text);
}

bool CResultsDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tree &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy)) {
            if (event->type() == QEvent::KeyPress)
                copyReport();
            event->accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CResultsDlg::copyReport() {
    QGuiApplication::clipboard()->setText(reportText());
}
