#include "about_dialog.h"
#include "main_dialog.h"

#include <osg/Geode>
#include <osg/Shape>
#include <osg/ShapeDrawable>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

QString screenshotPath(const QString& name) {
    return QStringLiteral(BRINDLE_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
}

// Writes `folder`/`tile`/root.osgb holding a small box, the way a tiled data set looks.
bool writeTile(const QString& folder, const QString& tile) {
    const QString dir = folder + QLatin1Char('/') + tile;
    if (!QDir().mkpath(dir))
        return false;
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(0, 0, 0), 1.0f)));
    return osgDB::writeNodeFile(*geode, (dir + QStringLiteral("/root.osgb")).toStdString());
}

QString makeDataFolder(const QTemporaryDir& temp, const QString& name) {
    QString folder = temp.filePath(name);
    QDir().mkpath(folder);
    writeTile(folder, QStringLiteral("tile_0"));
    return folder;
}

bool hasIndex(const QString& folder) {
    return QFileInfo(folder + QStringLiteral("/root.osgb")).isFile();
}

// Hands out the given answers one per call, as if the user picked them in turn.
CBrindleDlg::FolderChooser scriptedChooser(QStringList answers) {
    return [answers = std::move(answers)](QWidget*) mutable {
        return answers.isEmpty() ? QString() : answers.takeFirst();
    };
}

// Watches for a visible window with the given object name while the code under test runs
// its nested event loops, and acts on it once `ready` says it is worth acting on.
class ModalWatcher : public QObject {
public:
    using Action = std::function<void(QWidget*)>;
    using Ready = std::function<bool(QWidget*)>;

    ModalWatcher(QString name, Action act, Ready ready = {})
        : m_name(std::move(name)), m_act(std::move(act)), m_ready(std::move(ready)) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, timer] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal->objectName() != m_name || !modal->isVisible())
                return;
            if (m_ready && !m_ready(modal))
                return;
            timer->stop();
            m_seen = true;
            m_act(modal);
        });
        timer->start(10);
    }

    bool seen() const { return m_seen; }

private:
    QString m_name;
    Action m_act;
    Ready m_ready;
    bool m_seen = false;
};

// Watches for the message box with the given object name; once it shows, reads what it says,
// saves a picture of it and presses its only button.
class BoxReader {
public:
    BoxReader(const QString& name, const QString& screenshot)
        : m_watcher(name, [this, screenshot](QWidget* widget) {
              auto* box = qobject_cast<QMessageBox*>(widget);
              QVERIFY(box);
              text = box->windowTitle() + QLatin1Char('|') + box->text();
              buttons = static_cast<int>(box->buttons().size());
              box->grab().save(screenshotPath(screenshot));
              box->button(QMessageBox::Ok)->click();
          }) {}

    bool seen() const { return m_watcher.seen(); }

    QString text;    // title|text
    int buttons = 0; // how many buttons the box had

private:
    ModalWatcher m_watcher;
};

void clickButton(const QWidget& dialog, const QString& name) {
    auto* button = dialog.findChild<QPushButton*>(name);
    QVERIFY2(button, qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class MainDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void layoutAndFocus();
    void addSortsAndOkExportsInListOrder();
    void cancelledChooserLeavesList();
    void duplicatesAreKept();
    void deleteNeedsSelection();
    void failedFolderShowsFailureBox();
    void failureBoxListsWarnings();
    void cancellingTheRunStopsIt();
    void emptyListSucceeds();
    void cancelWritesNothing();
    void aboutBoxKeepsList();
};

void MainDialogTest::initTestCase() {
    QVERIFY(QDir().mkpath(QStringLiteral(BRINDLE_SCREENSHOT_DIR)));
    // Noto Sans CJK carries the Chinese labels; without it the pictures show boxes.
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 10));
    QApplication::setApplicationName(QStringLiteral("Brindle"));
}

void MainDialogTest::layoutAndFocus() {
    CBrindleDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* list = dlg.findChild<QListWidget*>(QStringLiteral("folderList"));
    auto* ok = dlg.findChild<QPushButton*>(QStringLiteral("okButton"));
    auto* cancel = dlg.findChild<QPushButton*>(QStringLiteral("cancelButton"));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    auto* del = dlg.findChild<QPushButton*>(QStringLiteral("deleteButton"));
    QVERIFY(list && ok && cancel && add && del);

    QCOMPARE(dlg.windowTitle(), QStringLiteral("Brindle"));
    QCOMPARE(ok->text(), QStringLiteral("确定"));
    QCOMPARE(cancel->text(), QStringLiteral("取消"));
    QCOMPARE(add->text(), QStringLiteral("增加"));
    QCOMPARE(del->text(), QStringLiteral("删除"));
    QVERIFY(ok->isDefault());
    QCOMPARE(dlg.focusWidget(), ok);
    QVERIFY(qAbs(dlg.width() - 600) < 100 && qAbs(dlg.height() - 400) < 100);

    // List on the left, Add above Delete to its right, OK and Cancel at the bottom right.
    QVERIFY(add->x() > list->geometry().right());
    QVERIFY(del->y() > add->y());
    QVERIFY(ok->y() > list->geometry().bottom());
    QVERIFY(cancel->x() > ok->x());
    QVERIFY(cancel->geometry().right() > dlg.width() - 40);

    // Tab order: OK, Cancel, list, Add, Delete, back to OK.
    QList<QWidget*> chain;
    QWidget* w = ok;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain << w;
        w = w->nextInFocusChain();
    } while (w != ok && chain.size() < 20);
    QCOMPARE(chain, (QList<QWidget*>{ok, cancel, list, add, del}));

    // The layout, not fixed positions, places the buttons: they follow a resize.
    dlg.resize(900, 600);
    QTest::qWait(20);
    QVERIFY(cancel->geometry().right() > 900 - 40);
    QVERIFY(list->height() > 400);
}

void MainDialogTest::addSortsAndOkExportsInListOrder() {
    QTemporaryDir temp;
    const QString b = makeDataFolder(temp, QStringLiteral("b"));
    const QString a = makeDataFolder(temp, QStringLiteral("a"));
    const QString c = makeDataFolder(temp, QStringLiteral("c"));

    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser({b, c, a}));
    std::vector<std::filesystem::path> passed;
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions& options) {
        passed = folders;
        return brindle::ExportFolderIndexes(folders, options);
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(dlg.folders(), (QStringList{QDir::toNativeSeparators(a), QDir::toNativeSeparators(b),
                                         QDir::toNativeSeparators(c)}));
    dlg.grab().save(screenshotPath(QStringLiteral("main_dialog")));

    BoxReader done(QStringLiteral("exportSucceeded"), QStringLiteral("export_succeeded"));
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(done.seen());
    QCOMPARE(done.text, QStringLiteral("Brindle|导出成功"));
    QCOMPARE(done.buttons, 1);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.isVisible());

    const std::vector<std::filesystem::path> expected{a.toStdString(), b.toStdString(),
                                                      c.toStdString()};
    QVERIFY(passed == expected);
    QCOMPARE(dlg.lastReport().folders.size(), size_t(3));
    for (size_t i = 0; i < expected.size(); ++i) {
        QVERIFY(dlg.lastReport().folders[i].folder == expected[i]);
        QVERIFY(dlg.lastReport().folders[i].status == brindle::FolderStatus::Written);
    }
    for (const QString& folder : {a, b, c}) {
        QVERIFY2(hasIndex(folder), qPrintable(folder));
        osg::ref_ptr<osg::Node> index =
            osgDB::readNodeFile((folder + QStringLiteral("/root.osgb")).toStdString());
        QVERIFY(index);
    }
}

void MainDialogTest::cancelledChooserLeavesList() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser({QStringLiteral("/data/x"), QString()}));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(dlg.folders(), QStringList{QStringLiteral("/data/x")});
}

void MainDialogTest::duplicatesAreKept() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser({QStringLiteral("/data/x"), QStringLiteral("/data/x")}));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(dlg.folders(), (QStringList{QStringLiteral("/data/x"), QStringLiteral("/data/x")}));
}

void MainDialogTest::deleteNeedsSelection() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser(
        {QStringLiteral("/data/c"), QStringLiteral("/data/a"), QStringLiteral("/data/b")}));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    auto* del = dlg.findChild<QPushButton*>(QStringLiteral("deleteButton"));
    auto* list = dlg.findChild<QListWidget*>(QStringLiteral("folderList"));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(add, Qt::LeftButton);

    // A current row without a selection (after Ctrl+click, say) is not a choice to delete.
    list->setCurrentRow(1);
    list->clearSelection();
    QTest::mouseClick(del, Qt::LeftButton);
    QCOMPARE(dlg.folders().size(), 3);

    list->item(1)->setSelected(true);
    QTest::mouseClick(del, Qt::LeftButton);
    QCOMPARE(dlg.folders(), (QStringList{QStringLiteral("/data/a"), QStringLiteral("/data/c")}));

    // The Delete key on the list does what the button does.
    list->clearSelection();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(dlg.folders().size(), 2);
    list->item(0)->setSelected(true);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(dlg.folders(), QStringList{QStringLiteral("/data/c")});
}

void MainDialogTest::failedFolderShowsFailureBox() {
    QTemporaryDir temp;
    const QString good = makeDataFolder(temp, QStringLiteral("good"));
    // An index cannot replace a non-empty directory of the same name, root or not.
    const QString blocked = makeDataFolder(temp, QStringLiteral("blocked"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral("/root.osgb/keep")));
    const QString missing = temp.filePath(QStringLiteral("missing"));

    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser({good, blocked, missing}));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(add, Qt::LeftButton);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    BoxReader failed(QStringLiteral("exportFailed"), QStringLiteral("export_failed"));
    ModalWatcher wrongly(QStringLiteral("exportSucceeded"),
                         [](QWidget* w) { static_cast<QMessageBox*>(w)->accept(); });
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(failed.seen());
    QVERIFY(!wrongly.seen());
    QVERIFY2(failed.text.startsWith(QStringLiteral("Brindle|")), qPrintable(failed.text));
    QVERIFY2(failed.text.contains(QStringLiteral("部分目录导出失败：")), qPrintable(failed.text));
    QVERIFY2(failed.text.contains(QDir::toNativeSeparators(blocked) + QStringLiteral("：")),
             qPrintable(failed.text));
    QVERIFY2(failed.text.contains(QDir::toNativeSeparators(missing) + QStringLiteral("：")),
             qPrintable(failed.text));
    QVERIFY2(!failed.text.contains(QDir::toNativeSeparators(good) + QStringLiteral("：")),
             qPrintable(failed.text));
    QCOMPARE(failed.buttons, 1);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.lastReport().succeeded());
}

void MainDialogTest::failureBoxListsWarnings() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser({QStringLiteral("/data/x"), QStringLiteral("/data/y")}));
    // A report as the run would give it: one folder written on a guessed origin, one failed.
    dlg.setExportRunner(
        [](const std::vector<std::filesystem::path>& folders, const brindle::ExportOptions&) {
            brindle::ExportReport report;
            brindle::FolderReport written;
            written.folder = folders.at(0);
            written.status = brindle::FolderStatus::Written;
            written.warnings.push_back(
                {brindle::ProblemKind::ReportNoOrigin, "/data/b/report.txt", {}});
            brindle::FolderReport failed;
            failed.folder = folders.at(1);
            failed.status = brindle::FolderStatus::Failed;
            failed.error = brindle::Problem{brindle::ProblemKind::WriteFailed, "/data/a/root.osgb",
                                            std::make_error_code(std::errc::no_space_on_device)};
            report.folders = {written, failed};
            return report;
        });
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    BoxReader failed(QStringLiteral("exportFailed"), QStringLiteral("export_warnings"));
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(failed.seen());
    QVERIFY2(failed.text.contains(QStringLiteral("/data/a/root.osgb：No space left on device")), qPrintable(failed.text));
    QVERIFY2(failed.text.contains(QStringLiteral("/data/b/report.txt")), qPrintable(failed.text));
    QVERIFY2(!failed.text.contains(QStringLiteral("导出已取消")), qPrintable(failed.text));
}

void MainDialogTest::cancellingTheRunStopsIt() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser({QStringLiteral("/data/slow")}));
    bool sawCancel = false;
    // Stands in for a long run: reports some progress, then waits to be cancelled.
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions& options) {
        brindle::ExportProgress step;
        step.folderCount = folders.size();
        step.folder = folders.front();
        step.subfolderCount = 8;
        step.subfoldersDone = 3;
        options.progress(step);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!options.cancel->load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        sawCancel = options.cancel->load();
        brindle::ExportReport report;
        report.cancelled = true;
        brindle::FolderReport folder;
        folder.folder = folders.front();
        folder.status = brindle::FolderStatus::Cancelled;
        report.folders.push_back(folder);
        return report;
    });
    clickButton(dlg, QStringLiteral("addButton"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QString label;
    int barValue = -1;
    int barMaximum = -1;
    ModalWatcher progress(
        QStringLiteral("exportProgress"),
        [&](QWidget* w) {
            auto* dialog = static_cast<QProgressDialog*>(w);
            label = dialog->labelText();
            barValue = dialog->value();
            barMaximum = dialog->maximum();
            dialog->grab().save(screenshotPath(QStringLiteral("export_progress")));
            auto* cancel = dialog->findChild<QPushButton*>();
            QVERIFY(cancel);
            cancel->click();
        },
        [](QWidget* w) {
            return static_cast<QProgressDialog*>(w)->labelText().contains(QStringLiteral("3/8"));
        });
    BoxReader failed(QStringLiteral("exportFailed"), QStringLiteral("export_cancelled"));
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(progress.seen());
    QVERIFY2(label.contains(QStringLiteral("/data/slow")), qPrintable(label));
    // 3 of 8 tiles validated and none of 1 folder written: the bar has moved with the tiles.
    QCOMPARE(barValue, 3);
    QCOMPARE(barMaximum, 9);
    QVERIFY(sawCancel);
    QVERIFY(failed.seen());
    QVERIFY2(failed.text.contains(QStringLiteral("导出已取消")), qPrintable(failed.text));
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
}

void MainDialogTest::emptyListSucceeds() {
    CBrindleDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    BoxReader done(QStringLiteral("exportSucceeded"), QStringLiteral("export_empty"));
    clickButton(dlg, QStringLiteral("okButton"));
    QVERIFY(done.seen());
    QCOMPARE(done.text, QStringLiteral("Brindle|导出成功"));
    QVERIFY(!dlg.isVisible());
}

void MainDialogTest::cancelWritesNothing() {
    QTemporaryDir temp;
    const QString folder = makeDataFolder(temp, QStringLiteral("data"));
    bool ran = false;
    const auto runner = [&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions& options) {
        ran = true;
        return brindle::ExportFolderIndexes(folders, options);
    };
    // The Cancel button, Escape and the close box all leave without a run.
    for (int way = 0; way < 3; ++way) {
        CBrindleDlg dlg;
        dlg.setFolderChooser(scriptedChooser({folder}));
        dlg.setExportRunner(runner);
        clickButton(dlg, QStringLiteral("addButton"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        if (way == 0)
            clickButton(dlg, QStringLiteral("cancelButton"));
        else if (way == 1)
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else
            dlg.close();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
    QVERIFY(!ran);
    QVERIFY(!hasIndex(folder));
}

void MainDialogTest::aboutBoxKeepsList() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser({QStringLiteral("/data/b"), QStringLiteral("/data/a")}));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    const QStringList before = dlg.folders();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));

    auto* about = dlg.findChild<QAction*>(QStringLiteral("aboutAction"));
    QVERIFY(about);
    QCOMPARE(about->text(), QStringLiteral("关于 Brindle(&A)..."));
    QVERIFY(dlg.actions().contains(about));
    QCOMPARE(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);

    QString title;
    QStringList lines;
    ModalWatcher box(QStringLiteral("aboutDialog"), [&](QWidget* w) {
        title = w->windowTitle();
        auto* icon = w->findChild<QLabel*>(QStringLiteral("aboutIcon"));
        QVERIFY(icon && !icon->pixmap().isNull());
        for (QLabel* label : w->findChildren<QLabel*>())
            if (!label->text().isEmpty())
                lines << label->text();
        w->grab().save(screenshotPath(QStringLiteral("about")));
        auto* ok = w->findChild<QPushButton*>();
        QVERIFY(ok);
        QCOMPARE(ok->text(), QStringLiteral("确定"));
        QVERIFY(ok->isDefault());
        ok->click();
    });
    // F1 is the keyboard way in.
    QTest::keyClick(&dlg, Qt::Key_F1);

    QVERIFY(box.seen());
    QCOMPARE(title, QStringLiteral("关于 Brindle"));
    QVERIFY2(lines.contains(QStringLiteral("Brindle，1.0 版")), qPrintable(lines.join(u'|')));
    QVERIFY2(lines.size() >= 2, qPrintable(lines.join(u'|')));
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.folders(), before);
}

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
