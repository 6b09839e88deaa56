#include "main_dialog.h"

#include "about_dialog.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

#include <atomic>
#include <thread>

namespace {

QString defaultChooseFolder(QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("请选择目录："), QString(),
                                             QFileDialog::ShowDirsOnly);
}

QString nativePath(const std::filesystem::path& path) {
    return QDir::toNativeSeparators(QString::fromStdString(path.string()));
}

QStringList describeWarnings(const brindle::ExportReport& report) {
    QStringList warnings;
    for (const brindle::FolderReport& folder : report.folders)
        for (const brindle::Problem& warning : folder.warnings)
            warnings << QStringLiteral("%1：%2").arg(
                nativePath(warning.path), QString::fromStdString(warning.cause.message()));
    return warnings;
}

QString describeFailures(const brindle::ExportReport& report) {
    QStringList lines;
    QStringList failed;
    for (const brindle::FolderReport& folder : report.folders)
        if (folder.status == brindle::FolderStatus::Failed && folder.error)
            failed << QStringLiteral("%1：%2").arg(
                nativePath(folder.error->path),
                QString::fromStdString(folder.error->cause.message()));
    const QStringList warnings = describeWarnings(report);
    if (report.cancelled)
        lines << QStringLiteral("导出已取消。");
    if (!failed.isEmpty())
        lines << QStringLiteral("部分目录导出失败：") << failed;
    if (!warnings.isEmpty())
        lines << QStringLiteral("警告：") << warnings;
    return lines.join(QLatin1Char('\n'));
}

} // namespace

CBrindleDlg::CBrindleDlg(QWidget* parent)
    : QDialog(parent), m_chooseFolder(defaultChooseFolder),
      m_runExport(brindle::ExportFolderIndexes) {
    setObjectName(QStringLiteral("mainDialog"));
    setWindowTitle(QStringLiteral("Brindle"));

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("folderList"));
    m_list->setSortingEnabled(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->installEventFilter(this);

    m_add = new QPushButton(QStringLiteral("增加"), this);
    m_add->setObjectName(QStringLiteral("addButton"));
    m_delete = new QPushButton(QStringLiteral("删除"), this);
    m_delete->setObjectName(QStringLiteral("deleteButton"));
    m_ok = new QPushButton(QStringLiteral("确定"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_cancel = new QPushButton(QStringLiteral("取消"), this);
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

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_ok);
    bottom->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);

    // There is no system menu to put About in, so it lives in the context menu and on F1.
    auto* about = new QAction(QStringLiteral("关于 Brindle(&A)..."), this);
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

    OnInitDialog();
}

CBrindleDlg::~CBrindleDlg() = default;

void CBrindleDlg::OnInitDialog() {
    resize(600, 400);
    setTabOrder(m_ok, m_cancel);
    setTabOrder(m_cancel, m_list);
    setTabOrder(m_list, m_add);
    setTabOrder(m_add, m_delete);
    m_ok->setDefault(true);
    m_ok->setFocus();
}

void CBrindleDlg::setFolderChooser(FolderChooser chooser) {
    m_chooseFolder = std::move(chooser);
}

void CBrindleDlg::setExportRunner(ExportRunner runner) {
    m_runExport = std::move(runner);
}

QStringList CBrindleDlg::folders() const {
    QStringList result;
    for (int row = 0; row < m_list->count(); ++row)
        result << m_list->item(row)->text();
    return result;
}

bool CBrindleDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        OnDeleteFolder();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CBrindleDlg::OnAddFolder() {
    const QString folder = m_chooseFolder(this);
    if (folder.isEmpty())
        return;
    m_list->addItem(QDir::toNativeSeparators(folder));
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
    // A block is usually one folder of thousands of tiles, so the bar moves with every tile
    // validated as well as with every index written.
    m_progress->setMaximum(static_cast<int>(progress.subfolderCount + progress.folderCount));
    m_progress->setValue(static_cast<int>(progress.subfoldersDone + progress.foldersDone));
    m_progress->setLabelText(QStringLiteral("目录 %1/%2：%3\n已验证子目录 %4/%5")
                                 .arg(progress.foldersDone)
                                 .arg(progress.folderCount)
                                 .arg(nativePath(progress.folder))
                                 .arg(progress.subfoldersDone)
                                 .arg(progress.subfolderCount));
}

void CBrindleDlg::OnExport() {
    std::vector<std::filesystem::path> folders;
    for (const QString& folder : this->folders())
        folders.emplace_back(QDir::fromNativeSeparators(folder).toStdString());

    QProgressDialog progress(QStringLiteral("正在导出…"), QStringLiteral("取消"), 0,
                             static_cast<int>(folders.size()), this);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowTitle(QStringLiteral("Brindle"));
    progress.setWindowModality(Qt::WindowModal);
    // The run decides when it is over; the dialog must not vanish at 100% or on cancel.
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.setMinimumWidth(420);
    m_progress = &progress;

    std::atomic<bool> cancel{false};
    connect(&progress, &QProgressDialog::canceled, this, [&cancel, &progress] {
        cancel = true;
        progress.setLabelText(QStringLiteral("正在取消…"));
    });

    brindle::ExportOptions options;
    options.cancel = &cancel;
    options.progress = [this](const brindle::ExportProgress& step) {
        QMetaObject::invokeMethod(
            this, [this, step] { showProgress(step); }, Qt::QueuedConnection);
    };

    // Written by the worker, read only after join().
    brindle::ExportReport report;
    std::thread worker([&] {
        report = m_runExport(folders, options);
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_progress)
                    m_progress->accept();
            },
            Qt::QueuedConnection);
    });
    progress.exec();
    // Escape closes the progress dialog without the canceled signal; stop the run all the same.
    cancel = true;
    worker.join();
    m_progress = nullptr;

    m_lastReport = std::move(report);
    presentReport(m_lastReport);
    accept();
}

void CBrindleDlg::presentReport(const brindle::ExportReport& report) {
    const bool ok = report.succeeded() && !report.cancelled;
    QMessageBox box(ok ? QMessageBox::Information : QMessageBox::Warning, QStringLiteral("Brindle"),
                    ok ? QStringLiteral("导出成功") : describeFailures(report), QMessageBox::Ok,
                    this);
    box.setObjectName(ok ? QStringLiteral("exportSucceeded") : QStringLiteral("exportFailed"));
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    // A written index can still rest on a guessed origin; say so without spoiling success.
    if (ok && !describeWarnings(report).isEmpty())
        box.setInformativeText(describeWarnings(report).join(QLatin1Char('\n')));
    box.exec();
}
