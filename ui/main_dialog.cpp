#include "main_dialog.h"

#include "about_dialog.h"
#include "dialog_settings.h"
#include "export_job.h"
#include "folder_chooser.h"
#include "folder_list.h"
#include "path_text.h"
#include "report_text.h"
#include "results_dialog.h"
#include "tileset_row.h"

#include "export/cache/verdict_cache.h"
#include "export/scan/block_layout.h"
#include "export/scan/subfolder_scan.h"
#include "wording/tileset_progress.h"

#include <QAction>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <thread>

namespace {

// A message box sizes itself to its text, and a short text left the title bar too narrow for
// the title ("Br…le"); a strut across the box's grid keeps the whole title in sight.
// `lines`, when given, are kept whole too: the box is made as wide as the longest, within the
// screen.
void WidenForTitle(QMessageBox& box, const QString& lines = {}) {
    int width = std::max(360, box.fontMetrics().horizontalAdvance(box.windowTitle()) + 160);
    for (const QString& line : lines.split(QLatin1Char('\n')))
        // Room for the icon beside the text and the box's margins.
        width = std::max(width, box.fontMetrics().horizontalAdvance(line) + 120);
    if (const QScreen* screen = box.screen())
        width = std::min(width, screen->availableGeometry().width() * 9 / 10);
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

CBrindleDlg::CBrindleDlg(QWidget* parent)
    : QDialog(parent), m_chooseFolder(ChooseFolders), m_runExport(brindle::ExportFolderIndexes),
      m_confirmReplace([this](const brindle::Problem& why) { return askReplace(why); }) {
    setObjectName(QStringLiteral("mainDialog"));
    setWindowTitle(QStringLiteral("Brindle"));

    m_list = new CFolderList(this);
    m_list->setObjectName(QStringLiteral("folderList"));
    m_list->setHint(brindle::ui::QText(brindle::wording::EmptyListHint()));
    m_list->installEventFilter(this);

    m_add = new QPushButton(tr("增加"), this);
    m_add->setObjectName(QStringLiteral("addButton"));
    m_delete = new QPushButton(tr("删除"), this);
    m_delete->setObjectName(QStringLiteral("deleteButton"));
    m_delete->setEnabled(false);
    m_ok = new QPushButton(tr("确定"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_cancel = new QPushButton(tr("取消"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    // Add and Delete must not steal Enter from OK.
    m_add->setAutoDefault(false);
    m_delete->setAutoDefault(false);
    m_cancel->setAutoDefault(false);

    auto* side = new QVBoxLayout;
    side->addWidget(m_add);
    side->addWidget(m_delete);
    side->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(m_list, 1);
    top->addLayout(side);

    m_proxyIndex = new QRadioButton(tr("代理索引（查看器打开时加载全部瓦片）"), this);
    m_proxyIndex->setObjectName(QStringLiteral("proxyIndex"));
    m_proxyIndex->setChecked(true);
    m_pagedIndex = new QRadioButton(tr("分页索引（大测区：只加载视野内的瓦片）"), this);
    m_pagedIndex->setObjectName(QStringLiteral("pagedIndex"));
    m_overviewIndex = new QRadioButton(tr("总览索引（超大测区：远看整体，近看加载瓦片）"), this);
    m_overviewIndex->setObjectName(QStringLiteral("overviewIndex"));
    // One choice a line: three side by side would widen the dialog past most screens' half.
    auto* indexKind = new QGridLayout;
    indexKind->addWidget(new QLabel(tr("索引类型："), this), 0, 0, Qt::AlignLeft | Qt::AlignTop);
    indexKind->addWidget(m_proxyIndex, 0, 1);
    indexKind->addWidget(m_pagedIndex, 1, 1);
    indexKind->addWidget(m_overviewIndex, 2, 1);
    indexKind->setColumnStretch(2, 1);
    m_pagedHint = new QLabel(this);
    m_pagedHint->setObjectName(QStringLiteral("pagedIndexHint"));
    m_pagedHint->setWordWrap(true);
    m_pagedHint->hide();
    m_tilesets = new CTilesetRow(this);
    m_tilesets->setObjectName(QStringLiteral("tilesetRow"));
    m_tilesets->setFolderText(brindle::ui::RememberedTilesetFolder());

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_ok);
    bottom->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(indexKind);
    layout->addWidget(m_pagedHint);
    layout->addWidget(m_tilesets);
    layout->addLayout(bottom);

    // There is no system menu to put About in, so it lives in the context menu and on F1.
    auto* about = new QAction(tr("关于 Brindle(&A)..."), this);
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setShortcut(QKeySequence(Qt::Key_F1));
    about->setShortcutContext(Qt::WindowShortcut);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(m_add, &QPushButton::clicked, this, &CBrindleDlg::OnAddFolder);
    connect(m_delete, &QPushButton::clicked, this, &CBrindleDlg::OnDeleteFolder);
    connect(m_ok, &QPushButton::clicked, this, &CBrindleDlg::OnExport);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(about, &QAction::triggered, this, &CBrindleDlg::OnAbout);
    connect(m_list, &CFolderList::foldersDropped, this, &CBrindleDlg::addFolders);
    connect(m_list, &QListWidget::itemSelectionChanged, this,
            [this] { m_delete->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(m_list->model(), &QAbstractItemModel::rowsInserted, this,
            &CBrindleDlg::countNewFolders);
    connect(m_list->model(), &QAbstractItemModel::rowsRemoved, this, &CBrindleDlg::updatePagedHint);
    connect(m_proxyIndex, &QRadioButton::toggled, this, &CBrindleDlg::updatePagedHint);
    connect(m_tilesets, &CTilesetRow::toggled, this, &CBrindleDlg::followTilesetChoice);

    OnInitDialog();
}

CBrindleDlg::~CBrindleDlg() {
    // A count stops between entries; its result, posted to this dialog, is dropped with it.
    m_stopCounting = true;
    for (std::thread& counter : m_counters)
        counter.join();
}

void CBrindleDlg::OnInitDialog() {
    resize(600, 400);
    setTabOrder(m_ok, m_cancel);
    setTabOrder(m_cancel, m_list);
    setTabOrder(m_list, m_add);
    setTabOrder(m_add, m_delete);
    setTabOrder(m_delete, m_proxyIndex);
    setTabOrder(m_proxyIndex, m_pagedIndex);
    setTabOrder(m_pagedIndex, m_overviewIndex);
    setTabOrder(m_overviewIndex, m_tilesets);
    m_ok->setDefault(true);
    m_ok->setFocus();
}

void CBrindleDlg::setFolderChooser(FolderChooser chooser) {
    m_chooseFolder = std::move(chooser);
}

void CBrindleDlg::setExportRunner(ExportRunner runner) {
    m_runExport = std::move(runner);
}

void CBrindleDlg::setReplaceConfirmer(ReplaceConfirmer confirmer) {
    m_confirmReplace = std::move(confirmer);
}

void CBrindleDlg::setTilesetFolderChooser(
    std::function<QString(QWidget*, const QString&)> chooser) {
    m_tilesets->setFolderChooser(std::move(chooser));
}

QStringList CBrindleDlg::folders() const {
    return m_list->folders();
}

bool CBrindleDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        OnDeleteFolder();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CBrindleDlg::addFolders(const QStringList& folders) {
    for (const QString& folder : folders)
        if (!folder.isEmpty()) {
            m_list->addFolder(folder);
            m_lastFolder = folder;
        }
}

void CBrindleDlg::countNewFolders() {
    for (const QString& folder : folders()) {
        if (folder.isEmpty() || m_subfolderCounts.count(folder))
            continue;
        m_subfolderCounts[folder] = std::nullopt;
        m_counters.emplace_back([this, folder, path = brindle::ui::PathFromQString(folder)] {
            const std::size_t count = brindle::CountTileFolders(
                path, brindle::kPagedIndexAdvisedAbove + 1, &m_stopCounting);
            QMetaObject::invokeMethod(
                this,
                [this, folder, count] {
                    m_subfolderCounts[folder] = count;
                    updatePagedHint();
                    emit subfoldersCounted(folder);
                },
                Qt::QueuedConnection);
        });
    }
    // A folder listed again was counted before.
    updatePagedHint();
}

void CBrindleDlg::updatePagedHint() {
    std::vector<std::filesystem::path> big;
    if (m_proxyIndex->isChecked()) {
        for (const QString& folder : folders()) {
            const auto counted = m_subfolderCounts.find(folder);
            if (counted != m_subfolderCounts.end() && counted->second &&
                *counted->second > brindle::kPagedIndexAdvisedAbove)
                big.push_back(brindle::ui::PathFromQString(folder));
        }
    }
    if (!big.empty())
        m_pagedHint->setText(brindle::ui::QText(brindle::wording::PagedIndexHint(big)));
    m_pagedHint->setVisible(!big.empty());
}

void CBrindleDlg::followTilesetChoice(bool tilesets) {
    const QString why =
        tilesets ? tr("3D Tiles 由总览索引转换而来，导出 3D Tiles 时总是写总览索引") : QString();
    if (tilesets) {
        m_indexBeforeTilesets = m_proxyIndex->isChecked()   ? m_proxyIndex
                                : m_pagedIndex->isChecked() ? m_pagedIndex
                                                            : m_overviewIndex;
        m_overviewIndex->setChecked(true);
    } else if (m_indexBeforeTilesets) {
        m_indexBeforeTilesets->setChecked(true);
    }
    for (QRadioButton* kind : {m_proxyIndex, m_pagedIndex, m_overviewIndex}) {
        kind->setEnabled(!tilesets);
        kind->setToolTip(why);
    }
}

brindle::IndexKind CBrindleDlg::chosenIndex() const {
    if (m_overviewIndex->isChecked())
        return brindle::IndexKind::Overview;
    if (m_pagedIndex->isChecked())
        return brindle::IndexKind::Paged;
    return brindle::IndexKind::Proxy;
}

void CBrindleDlg::OnAddFolder() {
    addFolders(m_chooseFolder(this, m_lastFolder));
}

void CBrindleDlg::OnDeleteFolder() {
    // currentItem() can survive a cleared selection; only a selected entry is deleted.
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    for (QListWidgetItem* item : selected)
        delete m_list->takeItem(m_list->row(item));
}

void CBrindleDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CBrindleDlg::showProgress(const brindle::ExportProgress& progress) {
    // Once cancelled, keep saying so rather than showing the run wind down.
    if (!m_progress || m_progress->wasCanceled())
        return;
    // The tiles validated and the folders written, or the tileset stage in hand.
    const brindle::ProgressSteps steps = brindle::StepsShown(progress);
    m_progress->setMaximum(static_cast<int>(steps.total));
    m_progress->setValue(static_cast<int>(steps.done));
    m_progress->setLabelText(brindle::ui::QText(brindle::wording::ProgressText(
        progress,
        m_timeLeft ? m_timeLeft->at(progress, brindle::ProgressClock::now()) : std::nullopt)));
}

bool CBrindleDlg::askReplace(const brindle::Problem& why) {
    // Over the progress dialog while it shows, so the question is not hidden behind it.
    QWidget* parent = m_progress ? static_cast<QWidget*>(m_progress) : this;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Brindle"),
                    brindle::ui::QText(brindle::wording::ReplaceQuestion(why)),
                    QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("confirmReplace"));
    // The buttons answer the question asked: an empty index is written, not replaced.
    const brindle::wording::ReplaceAnswers answers = brindle::wording::AnswersTo(why);
    QPushButton* replace =
        box.addButton(brindle::ui::QText(answers.proceed), QMessageBox::AcceptRole);
    replace->setObjectName(QStringLiteral("replaceButton"));
    QPushButton* keep = box.addButton(brindle::ui::QText(answers.keep), QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("keepButton"));
    // Keeping is the safe answer: Enter and Escape both keep the file.
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    WidenForTitle(box);
    box.exec();
    return box.clickedButton() == replace;
}

void CBrindleDlg::OnExport() {
    if (m_tilesets->isChecked() && !m_tilesets->folder()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Brindle"),
                        tr("请选择 3D Tiles 的输出目录。"), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("tilesetFolderMissing"));
        box.button(QMessageBox::Ok)->setText(tr("确定"));
        WidenForTitle(box);
        box.exec();
        return;
    }
    std::vector<std::filesystem::path> folders;
    for (const QString& folder : this->folders())
        folders.push_back(brindle::ui::PathFromQString(folder));
    brindle::ExportOptions options;
    options.verdictCache = brindle::DefaultVerdictCacheFolder();
    options.index = chosenIndex();
    if (const std::optional<std::filesystem::path> tilesets = m_tilesets->folder()) {
        brindle::ui::RememberTilesetFolder(m_tilesets->folderText());
        options.tilesets.folder = *tilesets;
    }
    const auto folderCount = static_cast<int>(folders.size());
    brindle::ui::ExportJob job(std::move(folders), std::move(options), m_runExport);

    QProgressDialog progress(tr("正在导出…"), tr("取消"), 0, folderCount, this);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowTitle(tr("正在导出 - Brindle"));
    progress.setWindowModality(Qt::WindowModal);
    // The run decides when it is over; the dialog must not vanish at 100% or on cancel.
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.setMinimumWidth(460);
    m_progress = &progress;
    m_timeLeft.emplace(brindle::ProgressClock::now());

    connect(&progress, &QProgressDialog::canceled, &job, [&job, &progress] {
        job.cancel();
        progress.setLabelText(tr("正在取消…"));
    });
    connect(&job, &brindle::ui::ExportJob::progress, this, &CBrindleDlg::showProgress);
    connect(&job, &brindle::ui::ExportJob::question, this,
            [this, &job](const brindle::Problem& why) { job.answer(m_confirmReplace(why)); });
    connect(&job, &brindle::ui::ExportJob::finished, &progress, &QProgressDialog::accept);
    job.start();
    progress.exec();
    // Escape closes the progress dialog without the canceled signal; stop the run all the same.
    job.cancel();
    job.waitForFinished();
    m_progress = nullptr;

    brindle::ui::ExportOutcome outcome = job.takeOutcome();
    if (outcome.failure) {
        // No report to show; the list stays as it was, to try again.
        m_lastReport = {};
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Brindle"), *outcome.failure,
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("exportFailed"));
        box.button(QMessageBox::Ok)->setText(tr("确定"));
        WidenForTitle(box);
        box.exec();
        return;
    }
    m_lastReport = std::move(outcome.report);
    presentReport(m_lastReport, outcome.took);
}

void CBrindleDlg::presentReport(const brindle::ExportReport& report,
                                std::chrono::milliseconds took) {
    // A block an overview was built for is shown in the results window, whole, as a picture.
    const bool anyPicture =
        std::any_of(report.folders.begin(), report.folders.end(),
                    [](const brindle::FolderReport& f) { return !f.overviewPicture.empty(); });
    if (brindle::wording::NothingToTell(report) && !anyPicture) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Brindle"), tr("导出成功"),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("exportSucceeded"));
        const QString details = brindle::ui::QText(brindle::wording::SuccessDetails(report, took));
        box.setInformativeText(details);
        box.button(QMessageBox::Ok)->setText(tr("确定"));
        WidenForTitle(box, details);
        box.exec();
        accept();
        return;
    }
    CResultsDlg results(report, this, took);
    results.exec();
    // Every index written: the job is done, whatever was left out. Otherwise the list stays
    // as it was, so the user can remove the cause and press OK again.
    if (report.succeeded())
        accept();
}
