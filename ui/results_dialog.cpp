#include "results_dialog.h"

#include "report_text.h"

#include <QAction>
#include <QClipboard>
#include <QColor>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QTextLayout>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

using brindle::ui::QText;
using brindle::ui::QTexts;

namespace {

constexpr std::size_t kExpandedLeftOutMax = 50;
// The side of the block's picture, in pixels: the top node's own resolution.
constexpr int kPictureSide = 256;
// Which folder of the report a folder's row is, in its first column.
constexpr int kFolderIndexRole = Qt::UserRole + 1;

// Breaks each line of `text` into lines no wider than `width` pixels in `font`, where the
// script lets a line break (between words, between any two Chinese characters) or, failing
// that, anywhere; every character stays.
QString WrappedToWidth(const QString& text, const QFont& font, int width) {
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        if (paragraph.isEmpty()) {
            lines << paragraph;
            continue;
        }
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
    }
    return lines.join(QLatin1Char('\n'));
}

int Depth(const QTreeWidgetItem* item) {
    int depth = 0;
    for (const QTreeWidgetItem* above = item->parent(); above; above = above->parent())
        ++depth;
    return depth;
}

QImage ImageOf(const brindle::ReportImage& picture) {
    if (picture.empty() ||
        picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
        return {};
    return QImage(picture.rgb.data(), picture.width, picture.height, picture.width * 3,
                  QImage::Format_RGB888)
        .copy();
}

// An error or warning: one sentence across the whole row, under its folder.
QTreeWidgetItem* AddSentence(QTreeWidgetItem* folder, const QString& text, const QColor& color) {
    auto* item = new QTreeWidgetItem(folder, QStringList{text});
    item->setToolTip(0, text);
    item->setForeground(0, color);
    return item;
}

// Breaks a long text after its commas into lines of about `width` characters.
QString BrokenIntoLines(const QString& text, int width = 90) {
    QString lines;
    int lineStart = 0;
    for (int i = 0; i < text.size(); ++i) {
        lines += text[i];
        if (text[i] == QLatin1Char(',') && lines.size() - lineStart >= width) {
            lines += QLatin1Char('\n');
            lineStart = static_cast<int>(lines.size());
        }
    }
    return lines;
}

// A heading row under a folder, and under it a row for each tile: its name, and why.
QTreeWidgetItem* AddTileGroup(QTreeWidgetItem* folder, const std::string& heading,
                              const std::vector<brindle::wording::LeftOutText>& tiles) {
    auto* group = new QTreeWidgetItem(folder, QStringList{QText(heading)});
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<int>(tiles.size()));
    for (const brindle::wording::LeftOutText& tile : tiles) {
        auto* row = new QTreeWidgetItem(QStringList{QText(tile.name), QText(tile.reason)});
        row->setToolTip(0, row->text(0));
        row->setToolTip(1, row->text(1));
        rows << row;
    }
    group->addChildren(rows);
    return group;
}

} // namespace

CResultsDlg::CResultsDlg(const brindle::ExportReport& report, QWidget* parent,
                         std::optional<std::chrono::milliseconds> took)
    : QDialog(parent), m_text(brindle::wording::DescribeReport(report)) {
    for (const brindle::FolderReport& folder : report.folders)
        m_pictures.push_back(ImageOf(folder.overviewPicture));
    setObjectName(QStringLiteral("exportResults"));
    setWindowTitle(tr("导出结果"));
    setSizeGripEnabled(true);

    auto* headline = new QLabel(QText(m_text.headline), this);
    headline->setObjectName(QStringLiteral("resultsHeadline"));
    QFont large = headline->font();
    large.setPointSizeF(large.pointSizeF() * 1.4);
    large.setBold(true);
    headline->setFont(large);

    // The headline carries the box's usual icon, so success and trouble differ at a glance.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("resultsIcon"));
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()
                        ->standardIcon(m_text.succeeded ? QStyle::SP_MessageBoxInformation
                                                        : QStyle::SP_MessageBoxWarning,
                                       nullptr, this)
                        .pixmap(iconSize, iconSize));

    // The run's own warnings (a verdict cache it could not use) belong to no folder's row.
    QString summaryText = QText(m_text.summary);
    if (took)
        summaryText += tr("用时 %1。").arg(QText(brindle::wording::DescribeDuration(*took)));
    for (const std::string& warning : m_text.warnings)
        summaryText += QLatin1Char('\n') + tr("警告：%1").arg(QText(warning));
    auto* summary = new QLabel(summaryText, this);
    summary->setObjectName(QStringLiteral("resultsSummary"));
    summary->setWordWrap(true);

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("resultsTree"));
    m_tree->setHeaderLabels(QTexts(brindle::wording::ColumnTitles()));
    // Thousands of rows of one line each: uniform heights keep scrolling cheap.
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setTextElideMode(Qt::ElideMiddle);
    fillTree();
    // The tree would copy only its current cell on Ctrl+C; the user wants the whole report.
    m_tree->installEventFilter(this);
    // Sentences are broken for the width the tree's rows have, whenever it changes.
    m_tree->viewport()->installEventFilter(this);

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
    auto* top = new QGridLayout;
    top->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    top->addWidget(headline, 0, 1);
    top->addWidget(summary, 1, 1);
    top->setColumnStretch(1, 1);
    top->setHorizontalSpacing(12);
    layout->addLayout(top);
    // Beside the tree, the block an overview was built for, as its top level sees it: the
    // user sees at once whether the whole block is there.
    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("resultsPicture"));
    m_picture->setFixedWidth(kPictureSide);
    m_picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pictureCaption = new QLabel(this);
    m_pictureCaption->setObjectName(QStringLiteral("resultsPictureCaption"));
    m_pictureCaption->setWordWrap(true);
    m_pictureCaption->setFixedWidth(kPictureSide);
    auto* pictureColumn = new QVBoxLayout;
    pictureColumn->addWidget(m_picture);
    pictureColumn->addWidget(m_pictureCaption);
    pictureColumn->addStretch();
    auto* middle = new QHBoxLayout;
    middle->addWidget(m_tree, 1);
    middle->addLayout(pictureColumn);
    layout->addLayout(middle, 1);
    layout->addWidget(buttons);
    resize(960, 560);
    close->setFocus();
    // Until the window is shown, sentences are broken for about the width it opens at.
    wrapSentences();

    m_picture->hide();
    m_pictureCaption->hide();
    // The first folder with a picture shows it; selecting another folder's row shows that
    // folder's, where it has one.
    for (int i = 0; i < m_tree->topLevelItemCount() && m_picture->isHidden(); ++i)
        showPictureOf(m_tree->topLevelItem(i));
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { showPictureOf(current); });
}

void CResultsDlg::showPictureOf(const QTreeWidgetItem* item) {
    while (item && !item->data(0, kFolderIndexRole).isValid())
        item = item->parent();
    if (!item)
        return;
    const auto index = static_cast<std::size_t>(item->data(0, kFolderIndexRole).toInt());
    if (index >= m_pictures.size() || m_pictures[index].isNull())
        return;
    const QPixmap block = QPixmap::fromImage(m_pictures[index].scaled(
        kPictureSide, kPictureSide, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_picture->setPixmap(block);
    m_picture->setFixedHeight(block.height());
    m_pictureCaption->setText(
        tr("%1 的全貌：总览索引的最上层，俯视，上为北").arg(QText(m_text.folders[index].folder)));
    m_picture->show();
    m_pictureCaption->show();
}

void CResultsDlg::wrapSentences() {
    const int available = m_tree->isVisible() ? m_tree->viewport()->width() : width() - 60;
    bool multiLine = false;
    for (const auto& [item, sentence] : m_sentences) {
        // The row starts its text past the indentation of its depth and the branch mark.
        const int width = std::max(available - (Depth(item) + 1) * m_tree->indentation() -
                                       2 * m_tree->fontMetrics().averageCharWidth(),
                                   120);
        const QString wrapped = WrappedToWidth(sentence, m_tree->font(), width);
        multiLine = multiLine || wrapped.contains(QLatin1Char('\n'));
        if (item->text(0) != wrapped)
            item->setText(0, wrapped);
    }
    if (multiLine)
        m_tree->setUniformRowHeights(false);
}

void CResultsDlg::fillTree() {
    QList<QTreeWidgetItem*> folders;
    QList<QTreeWidgetItem*> sentences;
    const auto sentence = [this](QTreeWidgetItem* folder, const QString& text,
                                 const QColor& color) {
        QTreeWidgetItem* row = AddSentence(folder, text, color);
        m_sentences.emplace_back(row, text);
        return row;
    };
    for (const brindle::wording::FolderText& folder : m_text.folders) {
        auto* item =
            new QTreeWidgetItem(QStringList{QText(folder.folder), QText(folder.status),
                                            QText(folder.entries), QText(folder.translation)});
        item->setToolTip(0, item->text(0));
        item->setToolTip(3, item->text(3));
        item->setData(0, kFolderIndexRole, folders.size());
        if (!folder.ok) {
            QFont bold = item->font(1);
            bold.setBold(true);
            item->setFont(1, bold);
            item->setForeground(1, QColor(0xb0, 0x00, 0x20));
        }
        if (!folder.error.empty())
            sentences << sentence(item, tr("错误：%1").arg(QText(folder.error)),
                                  QColor(0xb0, 0x00, 0x20));
        // The column shows the start of a long spatial reference; its own row shows it whole,
        // broken into lines (a WKT runs to a thousand characters).
        if (!folder.srs.empty()) {
            const QString srs = BrokenIntoLines(QText(folder.srs));
            sentences << sentence(item, tr("坐标系：%1").arg(srs), palette().color(QPalette::Text));
            if (srs.contains(QLatin1Char('\n')))
                m_tree->setUniformRowHeights(false);
        }
        for (const std::string& warning : folder.warnings)
            sentences << sentence(item, tr("警告：%1").arg(QText(warning)),
                                  QColor(0x8a, 0x5a, 0x00));
        if (!folder.leftOut.empty())
            sentences << AddTileGroup(item, brindle::wording::LeftOutGroup(folder.leftOut.size()),
                                      folder.leftOut);
        if (!folder.overviewHoles.empty())
            sentences << AddTileGroup(
                item, brindle::wording::OverviewHoleGroup(folder.overviewHoles.size()),
                folder.overviewHoles);
        if (!folder.tileset.empty())
            sentences << sentence(item, QText(folder.tileset), palette().color(QPalette::Text));
        if (!folder.tilesetLeftOut.empty())
            sentences << AddTileGroup(
                item, brindle::wording::TilesetLeftOutGroup(folder.tilesetLeftOut.size()),
                folder.tilesetLeftOut);
        folders << item;
    }
    // A block goes under the folder of blocks whose index names it; the blocks come before
    // it in the report, so it is looked for among the later folders.
    QList<QTreeWidgetItem*> topLevel;
    for (int i = 0; i < folders.size(); ++i) {
        const std::string& master = m_text.folders[static_cast<std::size_t>(i)].master;
        QTreeWidgetItem* parent = nullptr;
        for (int j = i + 1; j < folders.size() && !master.empty() && !parent; ++j)
            if (m_text.folders[static_cast<std::size_t>(j)].folder == master)
                parent = folders[j];
        if (parent)
            parent->insertChild(parent->childCount(), folders[i]);
        else
            topLevel << folders[i];
    }
    m_tree->addTopLevelItems(topLevel);
    // Spanning and expanding take effect only once the items are in the tree.
    for (QTreeWidgetItem* sentence : sentences) {
        sentence->setFirstColumnSpanned(true);
        // A long list of tiles (left out, or not in the overview) starts collapsed so the
        // other folders stay in sight; its row gives the count.
        if (sentence->childCount() > 0)
            sentence->setExpanded(static_cast<std::size_t>(sentence->childCount()) <=
                                  kExpandedLeftOutMax);
    }
    for (QTreeWidgetItem* folder : folders)
        folder->setExpanded(true);
}

void CResultsDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_columnsSized) {
        // Sized once shown, when the tree's fonts and rows are final.
        sizeColumns();
        m_columnsSized = true;
        wrapSentences();
    }
}

void CResultsDlg::sizeColumns() {
    // Paths and origins can be long: the columns take what their text needs, capped for the
    // first two, and the tree scrolls sideways rather than cutting the translation short.
    m_tree->header()->setStretchLastSection(false);
    for (int column = 0; column < m_tree->columnCount(); ++column)
        m_tree->resizeColumnToContents(column);
    // Names in collapsed lists count too, so opening one does not cut them.
    const QFontMetrics metrics = m_tree->fontMetrics();
    int names = 0;
    for (const brindle::wording::FolderText& folder : m_text.folders) {
        for (const brindle::wording::LeftOutText& leftOut : folder.leftOut)
            names = std::max(names, metrics.horizontalAdvance(QText(leftOut.name)));
        for (const brindle::wording::LeftOutText& hole : folder.overviewHoles)
            names = std::max(names, metrics.horizontalAdvance(QText(hole.name)));
    }
    const int nameColumn = names + 3 * m_tree->indentation() + 2 * metrics.averageCharWidth();
    m_tree->setColumnWidth(0, std::min(std::max(m_tree->columnWidth(0), nameColumn), 360));
    m_tree->setColumnWidth(1, std::min(m_tree->columnWidth(1), 280));
}

QString CResultsDlg::reportText() const {
    return QText(brindle::wording::PlainText(m_text, brindle::wording::BlockLayout::Listed));
}

bool CResultsDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tree->viewport() && event->type() == QEvent::Resize && m_columnsSized)
        wrapSentences();
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
