// The dialog's "导出 3D Tiles" row: what it hands the run, what it remembers, and how it sits
// in the dialog.
#include "locale_zh.h"
#include "main_dialog.h"
#include "path_text.h"
#include "results_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

namespace {

QString screenshotPath(const QString& name) {
    return QStringLiteral(BRINDLE_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
}

// Presses the only button of the message box named `name` once it shows, and notes its text.
class BoxCloser : public QObject {
public:
    explicit BoxCloser(const QString& name) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, timer, name] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->objectName() != name || !box->isVisible())
                return;
            timer->stop();
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        timer->start(10);
    }

    QString text; // empty until the box showed
};

// The options of the run the dialog starts, none when it started none.
struct RunWatch {
    std::optional<brindle::ExportOptions> options;

    CBrindleDlg::ExportRunner runner() {
        return [this](const std::vector<std::filesystem::path>&,
                      const brindle::ExportOptions& given, const brindle::ExportCalls&) {
            options = given;
            return brindle::ExportReport{};
        };
    }
};

template <typename T> T* child(const QWidget& dialog, const char* name) {
    T* found = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no %s in the dialog", name);
    return found;
}

} // namespace

class TilesetOptionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void checkedFolderGoesToTheRunAndIsRemembered();
    void clearedBoxAsksForNoTileset();
    void checkedBoxWithoutFolderStartsNoRun();
    void rowFitsTheDialog();
    void resultsShowTheTilesetUnderItsFolder();
    void progressShowsTheTilesetStage();

private:
    QTemporaryDir m_settings;
};

void TilesetOptionTest::initTestCase() {
    QVERIFY(QDir().mkpath(QStringLiteral(BRINDLE_SCREENSHOT_DIR)));
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 10));
    QVERIFY(brindle::ui::InstallChineseLocale(*QCoreApplication::instance()));
    // The dialog's settings go to a folder of this test's own, empty at the start.
    QVERIFY(m_settings.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
}

void TilesetOptionTest::checkedFolderGoesToTheRunAndIsRemembered() {
    QTemporaryDir out;
    const QString folder = out.filePath(QStringLiteral("瓦片 输出"));
    RunWatch run;
    {
        CBrindleDlg dlg;
        dlg.setExportRunner(run.runner());
        QStringList askedAt;
        dlg.setTilesetFolderChooser([&](QWidget*, const QString& current) {
            askedAt << current;
            return folder;
        });
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        auto* check = child<QCheckBox>(dlg, "tilesetCheck");
        auto* field = child<QLineEdit>(dlg, "tilesetFolder");
        auto* browse = child<QPushButton>(dlg, "tilesetBrowse");
        QVERIFY(!check->isChecked());
        QCOMPARE(field->text(), QString());
        // Nothing to type into or pick while the box is clear.
        QVERIFY(!field->isEnabled() && !browse->isEnabled());

        child<QRadioButton>(dlg, "pagedIndex")->setChecked(true);
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
        QVERIFY(check->isChecked());
        QVERIFY(field->isEnabled() && browse->isEnabled());
        // The tileset is converted from the overview: that is the index, and no other can be
        // chosen meanwhile.
        QVERIFY(child<QRadioButton>(dlg, "overviewIndex")->isChecked());
        for (const char* kind : {"proxyIndex", "pagedIndex", "overviewIndex"}) {
            QVERIFY2(!child<QRadioButton>(dlg, kind)->isEnabled(), kind);
            QVERIFY2(!child<QRadioButton>(dlg, kind)->toolTip().isEmpty(), kind);
        }

        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(askedAt, QStringList{QString()});
        QCOMPARE(field->text(), folder);
        dlg.grab().save(screenshotPath(QStringLiteral("main_dialog_tilesets")));

        BoxCloser done(QStringLiteral("exportSucceeded"));
        QTest::mouseClick(child<QPushButton>(dlg, "okButton"), Qt::LeftButton);
        QVERIFY(!done.text.isEmpty());
    }
    QVERIFY(run.options);
    QCOMPARE(run.options->index, brindle::IndexKind::Overview);
    QCOMPARE(run.options->tilesets.folder, brindle::ui::PathFromQString(folder));

    // The next dialog offers the same folder, the box clear as every start has it.
    CBrindleDlg again;
    auto* check = child<QCheckBox>(again, "tilesetCheck");
    QVERIFY(!check->isChecked());
    QCOMPARE(child<QLineEdit>(again, "tilesetFolder")->text(), folder);
    QVERIFY(child<QRadioButton>(again, "proxyIndex")->isChecked());
}

void TilesetOptionTest::clearedBoxAsksForNoTileset() {
    RunWatch run;
    CBrindleDlg dlg;
    dlg.setExportRunner(run.runner());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* check = child<QCheckBox>(dlg, "tilesetCheck");
    child<QRadioButton>(dlg, "pagedIndex")->setChecked(true);
    check->setChecked(true);
    child<QLineEdit>(dlg, "tilesetFolder")->setText(QStringLiteral("/tmp/unused tilesets"));
    check->setChecked(false);
    // The choice made before comes back, to be changed again.
    QVERIFY(child<QRadioButton>(dlg, "pagedIndex")->isChecked());
    for (const char* kind : {"proxyIndex", "pagedIndex", "overviewIndex"})
        QVERIFY2(child<QRadioButton>(dlg, kind)->isEnabled(), kind);

    BoxCloser done(QStringLiteral("exportSucceeded"));
    QTest::mouseClick(child<QPushButton>(dlg, "okButton"), Qt::LeftButton);
    QVERIFY(run.options);
    QCOMPARE(run.options->index, brindle::IndexKind::Paged);
    QVERIFY(!run.options->tilesets.wanted());
}

void TilesetOptionTest::checkedBoxWithoutFolderStartsNoRun() {
    RunWatch run;
    CBrindleDlg dlg;
    dlg.setExportRunner(run.runner());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    child<QCheckBox>(dlg, "tilesetCheck")->setChecked(true);
    // Spaces are no folder.
    child<QLineEdit>(dlg, "tilesetFolder")->setText(QStringLiteral("  "));
    BoxCloser asked(QStringLiteral("tilesetFolderMissing"));
    QTest::mouseClick(child<QPushButton>(dlg, "okButton"), Qt::LeftButton);
    QVERIFY(!asked.text.isEmpty());
    QVERIFY(!run.options);
    QVERIFY(dlg.isVisible());
}

void TilesetOptionTest::rowFitsTheDialog() {
    CBrindleDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* check = child<QCheckBox>(dlg, "tilesetCheck");
    auto* field = child<QLineEdit>(dlg, "tilesetFolder");
    auto* browse = child<QPushButton>(dlg, "tilesetBrowse");
    // The box's label whole, the field wide enough for a path, the button inside the dialog
    // and lined up with the OK and Cancel buttons' right edge.
    QVERIFY(check->width() >= check->sizeHint().width());
    QVERIFY(field->width() >= dlg.width() / 2);
    const QRect button =
        browse->geometry().translated(browse->parentWidget()->mapTo(&dlg, QPoint()));
    auto* cancel = child<QPushButton>(dlg, "cancelButton");
    QCOMPARE(button.right(), cancel->geometry().right());
    QVERIFY(browse->width() >= browse->sizeHint().width());
    dlg.grab().save(screenshotPath(QStringLiteral("main_dialog_tileset_row")));
}

void TilesetOptionTest::resultsShowTheTilesetUnderItsFolder() {
    brindle::FolderReport folder;
    folder.folder = "/survey/甲";
    folder.indexFile = "/survey/甲/root.osgb";
    folder.status = brindle::FolderStatus::Written;
    folder.index = brindle::IndexKind::Overview;
    folder.entries = {"t/root.osgb"};
    brindle::TilesetReport tileset;
    tileset.folder = "/tilesets/甲";
    tileset.status = brindle::TilesetStatus::Written;
    tileset.converted = 7;
    tileset.leftOut.emplace_back("t/root_L2.osgb", brindle::TileStatus::LoadFailed,
                                 std::error_code(), 0, "/survey/甲/t/root_L2.osgb");
    folder.tileset = tileset;
    CResultsDlg dialog(brindle::ExportReport{{folder}, false, {}});
    dialog.resize(700, 420);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* tree = child<QTreeWidget>(dialog, "resultsTree");
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* row = tree->topLevelItem(0);
    QStringList under;
    for (int i = 0; i < row->childCount(); ++i) {
        under << row->child(i)->text(0);
        for (int j = 0; j < row->child(i)->childCount(); ++j)
            under << row->child(i)->child(j)->text(0);
    }
    const QString join = under.join(QLatin1Char('|'));
    QVERIFY2(join.contains(QStringLiteral("3D Tiles：/tilesets/甲/tileset.json")),
             qPrintable(join));
    QVERIFY2(join.contains(QStringLiteral("t/root_L2.osgb")), qPrintable(join));
    dialog.grab().save(screenshotPath(QStringLiteral("results_tileset")));
}

// While a folder's tileset is made, the progress dialog says what the stage has done under the
// folder's validation, and its bar follows the stage's tile roots.
void TilesetOptionTest::progressShowsTheTilesetStage() {
    std::atomic<bool> shown{false};
    CBrindleDlg dlg;
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>&,
                            const brindle::ExportOptions&, const brindle::ExportCalls& calls) {
        brindle::ExportProgress step;
        step.folderCount = 1;
        step.subfolderCount = step.subfoldersDone = 300;
        step.folder = "/data/survey";
        brindle::TilesetProgress& stage = step.tileset.emplace();
        stage.folder = "/data/survey/north";
        stage.tileCount = 300;
        stage.tilesDone = 60;
        stage.converted = 412;
        stage.reused = 3;
        stage.bytes = 100977868; // 96.3 MB
        calls.progress(step);
        // It waits on the test's watcher, not on the clock.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!shown && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return brindle::ExportReport{};
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QString label;
    int value = -1, maximum = -1;
    bool fits = false;
    auto* timer = new QTimer(&dlg);
    connect(timer, &QTimer::timeout, &dlg, [&] {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != QStringLiteral("exportProgress") ||
            !dialog->isVisible() || !dialog->labelText().contains(QStringLiteral("3D Tiles")))
            return;
        timer->stop();
        label = dialog->labelText();
        value = dialog->value();
        maximum = dialog->maximum();
        auto* text = dialog->findChild<QLabel*>();
        fits = text && text->width() >= text->sizeHint().width() &&
               text->height() >= text->sizeHint().height();
        dialog->grab().save(screenshotPath(QStringLiteral("export_progress_tileset")));
        shown = true;
    });
    timer->start(10);
    BoxCloser done(QStringLiteral("exportSucceeded"));
    QTest::mouseClick(child<QPushButton>(dlg, "okButton"), Qt::LeftButton);
    QVERIFY(shown);
    QCOMPARE(label, QStringLiteral("目录 1/1：/data/survey\n已验证子目录 300/300\n3D Tiles "
                                   "north：瓦片 60/300（20%），已转换 412 个文件，沿用 3 个，共 "
                                   "96.3 MB"));
    QCOMPARE(maximum, 300);
    QCOMPARE(value, 60);
    QVERIFY(fits);
}

QTEST_MAIN(TilesetOptionTest)
#include "tileset_option_test.moc"
