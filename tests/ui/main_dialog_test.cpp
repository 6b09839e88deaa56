#include "about_dialog.h"
#include "folder_chooser.h"
#include "locale_zh.h"
#include "main_dialog.h"
#include "path_text.h"
#include "report_text.h"
#include "results_dialog.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Shape>
#include <osg/ShapeDrawable>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <stdexcept>
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

// Writes `folder`/`tile`/root.osgb of at least `bytes`, as real tiles are: a point cloud of
// fixed, varied coordinates, so that no writer option shrinks it.
bool writeRealSizeTile(const QString& folder, const QString& tile, std::size_t bytes) {
    const QString dir = folder + QLatin1Char('/') + tile;
    if (!QDir().mkpath(dir))
        return false;
    osg::ref_ptr<osg::Vec3Array> points = new osg::Vec3Array;
    for (std::size_t i = 0; i <= bytes / sizeof(osg::Vec3); ++i)
        points->push_back(osg::Vec3(float(i * 7919 % 10007), float(i * 104729 % 1009), 0.5f));
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(points);
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_POINTS, 0, GLsizei(points->size())));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    const QString file = dir + QStringLiteral("/root.osgb");
    return osgDB::writeNodeFile(*geode, file.toStdString()) &&
           QFileInfo(file).size() >= qint64(bytes);
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

// Hands out the given answers one per call, as if the user picked them in turn, and notes
// where each call was asked to start.
CBrindleDlg::FolderChooser scriptedChooser(QList<QStringList> answers,
                                           QStringList* startedBeside = nullptr) {
    return
        [answers = std::move(answers), startedBeside](QWidget*, const QString& lastFolder) mutable {
            if (startedBeside)
                *startedBeside << lastFolder;
            return answers.isEmpty() ? QStringList() : answers.takeFirst();
        };
}

// One folder per trip to the chooser; an empty string is a cancelled trip.
CBrindleDlg::FolderChooser oneAtATime(const QStringList& folders,
                                      QStringList* startedBeside = nullptr) {
    QList<QStringList> answers;
    for (const QString& folder : folders)
        answers << (folder.isEmpty() ? QStringList() : QStringList{folder});
    return scriptedChooser(answers, startedBeside);
}

CBrindleDlg::ExportRunner scriptedRunner(brindle::ExportReport report) {
    return [report = std::move(report)](const std::vector<std::filesystem::path>&,
                                        const brindle::ExportOptions&,
                                        const brindle::ExportCalls&) { return report; };
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

// Whether a window this wide leaves room for its title beside the icon and the title bar's
// buttons; narrower ones had their titles cut to "Br…le".
bool titleFits(const QWidget& window) {
    return window.width() >= window.fontMetrics().horizontalAdvance(window.windowTitle()) + 150;
}

// Watches for the message box with the given object name; once it shows, reads what it says,
// saves a picture of it and presses its only button.
class BoxReader {
public:
    BoxReader(const QString& name, const QString& screenshot)
        : m_watcher(name, [this, screenshot](QWidget* widget) {
              auto* box = qobject_cast<QMessageBox*>(widget);
              QVERIFY(box);
              text = box->windowTitle() + QLatin1Char('|') + box->text();
              details = box->informativeText();
              buttons = static_cast<int>(box->buttons().size());
              titleShown = titleFits(*box);
              box->grab().save(screenshotPath(screenshot));
              box->button(QMessageBox::Ok)->click();
          }) {}

    bool seen() const { return m_watcher.seen(); }

    QString text;    // title|text
    QString details; // the lines under the text
    int buttons = 0; // how many buttons the box had
    bool titleShown = false;

private:
    ModalWatcher m_watcher;
};

// Every row of the tree, depth first, its columns joined by '|'.
QStringList treeRows(const QTreeWidget& tree) {
    QStringList rows;
    const std::function<void(const QTreeWidgetItem*)> visit = [&](const QTreeWidgetItem* item) {
        QStringList columns;
        for (int c = 0; c < item->columnCount(); ++c)
            columns << item->text(c);
        rows << columns.join(QLatin1Char('|'));
        for (int i = 0; i < item->childCount(); ++i)
            visit(item->child(i));
    };
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        visit(tree.topLevelItem(i));
    return rows;
}

// Watches for the results window; reads its headline and rows, lets the test act on it,
// saves a picture and closes it with its Close button.
class ResultsReader {
public:
    using Action = std::function<void(QDialog*, QTreeWidget*)>;

    explicit ResultsReader(const QString& screenshot, Action act = {})
        : m_watcher(QStringLiteral("exportResults"), [this, screenshot, act](QWidget* widget) {
              auto* dialog = qobject_cast<QDialog*>(widget);
              QVERIFY(dialog);
              title = dialog->windowTitle();
              titleShown = titleFits(*dialog);
              auto* headlineLabel = dialog->findChild<QLabel*>(QStringLiteral("resultsHeadline"));
              auto* summaryLabel = dialog->findChild<QLabel*>(QStringLiteral("resultsSummary"));
              auto* tree = dialog->findChild<QTreeWidget*>(QStringLiteral("resultsTree"));
              QVERIFY(headlineLabel && summaryLabel && tree);
              headline = headlineLabel->text();
              summary = summaryLabel->text();
              rows = treeRows(*tree);
              if (act)
                  act(dialog, tree);
              dialog->grab().save(screenshotPath(screenshot));
              auto* close = dialog->findChild<QPushButton*>(QStringLiteral("closeButton"));
              QVERIFY(close);
              close->click();
          }) {}

    bool seen() const { return m_watcher.seen(); }
    bool hasRow(const QString& part) const {
        return std::any_of(rows.begin(), rows.end(),
                           [&](const QString& row) { return row.contains(part); });
    }

    QString title;
    QString headline;
    QString summary;
    QStringList rows;
    bool titleShown = false;

private:
    ModalWatcher m_watcher;
};

void clickButton(const QWidget& dialog, const QString& name) {
    auto* button = dialog.findChild<QPushButton*>(name);
    QVERIFY2(button, qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

// Whether the widget's font has a glyph for every character of `text`: a missing CJK font
// shows empty boxes instead.
bool renders(const QWidget& widget, const QString& text) {
    const QFontMetrics metrics = widget.fontMetrics();
    for (const QChar c : text)
        if (!c.isSpace() && !metrics.inFont(c))
            return false;
    return !text.isEmpty();
}

// How many pixels of the image's middle band differ from its corner, the background.
int inkInMiddle(const QImage& image) {
    const QRgb background = image.pixel(2, 2);
    int ink = 0;
    for (int y = image.height() / 3; y < 2 * image.height() / 3; ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += image.pixel(x, y) != background;
    return ink;
}

brindle::FolderReport writtenFolder(const std::filesystem::path& folder) {
    brindle::FolderReport report;
    report.folder = folder;
    report.indexFile = folder / "root.osgb";
    report.status = brindle::FolderStatus::Written;
    report.entries = {"t\\root.osgb"};
    return report;
}

} // namespace

class MainDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void layoutAndHint();
    void addSortsAndOkExportsInListOrder();
    void chooserAnswers();
    void aFolderIsListedOnce();
    void deleteNeedsSelection();
    void dropAddsFoldersOnly();
    void realSizeTilesExport();
    void leftOutTilesShowResults();
    void failedRunReturnsToList();
    void runThatThrowsReturnsToList();
    void resultsTellTheWholeStory();
    void blocksShowUnderTheirFolder();
    void replaceIsAskedAndAnswered();
    void replaceBoxKeepsByDefault();
    void cancellingTheRunStopsIt();
    void emptyListSucceeds();
    void pagedIndexIsOffered();
    void overviewIndexIsOfferedAndItsHolesShown();
    void pagedIndexIsSuggestedForBigFolders();
    void cancelWritesNothing();
    void aboutBoxKeepsList();
    void folderChooserIsChinese();
    void pathsSurviveTheRoundTrip();
};

void MainDialogTest::initTestCase() {
    QVERIFY(QDir().mkpath(QStringLiteral(BRINDLE_SCREENSHOT_DIR)));
    // Noto Sans CJK carries the Chinese labels; without it the pictures show boxes.
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 10));
    QApplication::setApplicationName(QStringLiteral("Brindle"));
    // As the program does: Qt's own texts in Chinese (the setup installs the translations).
    QVERIFY(brindle::ui::InstallChineseLocale(*QCoreApplication::instance()));
}

void MainDialogTest::layoutAndHint() {
    CBrindleDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* list = dlg.findChild<QListWidget*>(QStringLiteral("folderList"));
    auto* ok = dlg.findChild<QPushButton*>(QStringLiteral("okButton"));
    auto* cancel = dlg.findChild<QPushButton*>(QStringLiteral("cancelButton"));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    auto* del = dlg.findChild<QPushButton*>(QStringLiteral("deleteButton"));
    QVERIFY(list && ok && cancel && add && del);

    // Every button's label can be drawn and fits on its button.
    for (QPushButton* button : {ok, cancel, add, del}) {
        QVERIFY2(renders(*button, button->text()), qPrintable(button->text()));
        QVERIFY(button->width() > button->fontMetrics().horizontalAdvance(button->text()));
    }
    QVERIFY(ok->isDefault());
    QCOMPARE(dlg.focusWidget(), ok);
    QVERIFY(qAbs(dlg.width() - 600) < 100 && qAbs(dlg.height() - 400) < 100);

    // List on the left, Add above Delete to its right, OK and Cancel at the bottom right.
    QVERIFY(add->x() > list->geometry().right());
    QVERIFY(del->y() > add->y());
    QVERIFY(ok->y() > list->geometry().bottom());
    QVERIFY(cancel->x() > ok->x());
    QVERIFY(cancel->geometry().right() > dlg.width() - 40);

    // Tab order: OK, Cancel, list, Add, Delete, the index kinds, the 3D Tiles box, back to
    // OK. (Delete takes focus once enabled; the 3D Tiles folder and its button once the box
    // is checked.)
    auto* proxy = dlg.findChild<QRadioButton*>(QStringLiteral("proxyIndex"));
    auto* paged = dlg.findChild<QRadioButton*>(QStringLiteral("pagedIndex"));
    auto* overview = dlg.findChild<QRadioButton*>(QStringLiteral("overviewIndex"));
    QVERIFY(proxy && paged && overview);
    // The three choices, one under the other above OK, each label whole within the dialog.
    QVERIFY(paged->y() > proxy->y() && overview->y() > paged->y());
    QVERIFY(ok->y() > overview->geometry().bottom());
    for (QRadioButton* kind : {proxy, paged, overview}) {
        QVERIFY2(renders(*kind, kind->text()), qPrintable(kind->text()));
        QVERIFY2(kind->mapTo(&dlg, QPoint(kind->width(), 0)).x() <= dlg.width(),
                 qPrintable(kind->text()));
        QVERIFY(kind->width() > kind->fontMetrics().horizontalAdvance(kind->text()));
    }
    list->addItem(QStringLiteral("/data/x"));
    list->item(0)->setSelected(true);
    QList<QWidget*> chain;
    QWidget* w = ok;
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->isEnabled())
            chain << w;
        w = w->nextInFocusChain();
    } while (w != ok && chain.size() < 20);
    auto* tilesets = dlg.findChild<QWidget*>(QStringLiteral("tilesetCheck"));
    QVERIFY(tilesets);
    QCOMPARE(chain,
             (QList<QWidget*>{ok, cancel, list, add, del, proxy, paged, overview, tilesets}));

    // The empty list shows its hint in the middle; a listed folder takes its place.
    delete list->takeItem(0);
    const QImage empty = list->viewport()->grab().toImage();
    dlg.grab().save(screenshotPath(QStringLiteral("main_dialog_empty")));
    QVERIFY(inkInMiddle(empty) > 100);
    list->addItem(QStringLiteral("/data/x"));
    QCOMPARE(inkInMiddle(list->viewport()->grab().toImage()), 0);

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
    QStringList startedBeside;
    dlg.setFolderChooser(oneAtATime({b, c, a}, &startedBeside));
    std::vector<std::filesystem::path> passed;
    brindle::IndexKind indexAsked = brindle::IndexKind::Paged;
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions& options,
                            const brindle::ExportCalls& calls) {
        passed = folders;
        indexAsked = options.index;
        return brindle::ExportFolderIndexes(folders, options, calls);
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(dlg.folders(), (QStringList{a, b, c}));
    // The chooser opens beside the folder added last.
    QCOMPARE(startedBeside, (QStringList{QString(), b, c}));
    dlg.grab().save(screenshotPath(QStringLiteral("main_dialog")));

    BoxReader done(QStringLiteral("exportSucceeded"), QStringLiteral("export_succeeded"));
    ModalWatcher wrongly(QStringLiteral("exportResults"), [](QWidget* w) { w->close(); });
    clickButton(dlg, QStringLiteral("okButton"));

    // Nothing left out, no warnings: a plain success box, and the program's work is done.
    QVERIFY(done.seen());
    QVERIFY(!wrongly.seen());
    QCOMPARE(done.text, QStringLiteral("Brindle|导出成功"));
    // Under it, what was done: the counts and each index with its entries and origin.
    QVERIFY2(done.details.startsWith(QStringLiteral("已写入 3 个目录")), qPrintable(done.details));
    for (const QString& folder : {a, b, c})
        QVERIFY2(done.details.contains(folder + QStringLiteral("/root.osgb：")),
                 qPrintable(done.details));
    QVERIFY2(done.details.contains(QStringLiteral("：代理索引，1 个条目\n    平移 (")),
             qPrintable(done.details));
    QCOMPARE(done.buttons, 1);
    QVERIFY(done.titleShown);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.isVisible());

    const std::vector<std::filesystem::path> expected{a.toStdString(), b.toStdString(),
                                                      c.toStdString()};
    QVERIFY(passed == expected);
    QVERIFY2(indexAsked == brindle::IndexKind::Proxy, "the proxy index is preselected");
    QCOMPARE(dlg.lastReport().folders.size(), size_t(3));
    for (const QString& folder : {a, b, c}) {
        QVERIFY2(hasIndex(folder), qPrintable(folder));
        osg::ref_ptr<osg::Node> index =
            osgDB::readNodeFile((folder + QStringLiteral("/root.osgb")).toStdString());
        QVERIFY(index);
    }
}

// A folder of real-size tiles, the biggest last, through the dialog's own export.
void MainDialogTest::realSizeTilesExport() {
    QTemporaryDir temp;
    const QString folder = temp.filePath(QStringLiteral("测区"));
    // Two tiles: with two workers or more, both are taken before reading ahead starts.
    const QStringList tiles{QStringLiteral("Tile_1"), QStringLiteral("Tile_2")};
    for (int i = 0; i < tiles.size(); ++i)
        QVERIFY(writeRealSizeTile(folder, tiles[i], std::size_t(80 + 300 * i) << 10));

    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime({folder}));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("addButton")), Qt::LeftButton);
    BoxReader done(QStringLiteral("exportSucceeded"), QStringLiteral("export_real_size"));
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(done.seen());
    QCOMPARE(done.text, QStringLiteral("Brindle|导出成功"));
    QCOMPARE(dlg.lastReport().folders.size(), size_t(1));
    const brindle::FolderReport& report = dlg.lastReport().folders[0];
    QVERIFY(report.status == brindle::FolderStatus::Written);
    QCOMPARE(report.entries, (std::vector<std::string>{"Tile_1\\root.osgb", "Tile_2\\root.osgb"}));
    QVERIFY(report.leftOut.empty());
    QVERIFY(hasIndex(folder));
}

void MainDialogTest::chooserAnswers() {
    CBrindleDlg dlg;
    // A cancelled trip adds nothing; a trip may bring several folders.
    dlg.setFolderChooser(scriptedChooser(
        {{QStringLiteral("/data/x")}, {}, {QStringLiteral("/data/y"), QStringLiteral("/data/z")}}));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(dlg.folders(), QStringList{QStringLiteral("/data/x")});
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(dlg.folders(), (QStringList{QStringLiteral("/data/x"), QStringLiteral("/data/y"),
                                         QStringLiteral("/data/z")}));
}

// Listing a folder twice would only export it twice: the list takes each folder once, however
// it is spelled or reached, whether chosen or dropped, and shows the entry it already has.
void MainDialogTest::aFolderIsListedOnce() {
    QTemporaryDir temp;
    const QString a = makeDataFolder(temp, QStringLiteral("测区 a"));
    const QString b = makeDataFolder(temp, QStringLiteral("b"));
    const QString link = temp.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(a, link));

    CBrindleDlg dlg;
    dlg.setFolderChooser(scriptedChooser({{b},
                                          {a},
                                          {a + QStringLiteral("/")},
                                          {link, b + QStringLiteral("/../b")},
                                          {temp.filePath(QStringLiteral("b/tile_0/.."))}}));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* add = dlg.findChild<QPushButton*>(QStringLiteral("addButton"));
    auto* list = dlg.findChild<QListWidget*>(QStringLiteral("folderList"));
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    // In the list's own order, whatever its collation.
    const QStringList both = dlg.folders();
    QCOMPARE(both.size(), 2);
    QVERIFY(both.contains(a) && both.contains(b));
    const int rowOfA = both.indexOf(a);
    list->clearSelection();
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(dlg.folders(), both);
    QCOMPARE(list->currentRow(), rowOfA);
    QVERIFY2(list->item(rowOfA)->isSelected(), "the entry already listed is shown");
    for (int trip = 0; trip < 2; ++trip)
        QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(dlg.folders(), both);

    // Dropped: the same folder again, and once more in the same drop, are not added.
    const QString c = makeDataFolder(temp, QStringLiteral("c"));
    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(link), QUrl::fromLocalFile(c),
                   QUrl::fromLocalFile(c + QStringLiteral("/."))});
    const QPoint at = list->viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mixed, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mixed, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QStringList three = dlg.folders();
    QCOMPARE(three.size(), 3);
    QVERIFY(three.contains(a) && three.contains(b) && three.contains(c));
}

void MainDialogTest::deleteNeedsSelection() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime(
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
    QVERIFY(!del->isEnabled());
    QTest::mouseClick(del, Qt::LeftButton);
    QCOMPARE(dlg.folders().size(), 3);

    list->item(1)->setSelected(true);
    QVERIFY(del->isEnabled());
    QTest::mouseClick(del, Qt::LeftButton);
    QCOMPARE(dlg.folders(), (QStringList{QStringLiteral("/data/a"), QStringLiteral("/data/c")}));

    // The Delete key on the list does what the button does.
    list->clearSelection();
    QVERIFY(!del->isEnabled());
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(dlg.folders().size(), 2);
    list->item(0)->setSelected(true);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(dlg.folders(), QStringList{QStringLiteral("/data/c")});
}

void MainDialogTest::dropAddsFoldersOnly() {
    QTemporaryDir temp;
    const QString one = makeDataFolder(temp, QStringLiteral("测区一"));
    const QString two = makeDataFolder(temp, QStringLiteral("block two"));
    const QString file = temp.filePath(QStringLiteral("notes.txt"));
    QFile notes(file);
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.close();

    CBrindleDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* list = dlg.findChild<QListWidget*>(QStringLiteral("folderList"));
    QWidget* target = list->viewport();
    const QPoint at = target->rect().center();

    // A file alone is not taken.
    QMimeData fileOnly;
    fileOnly.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent refused(at, Qt::CopyAction | Qt::MoveAction, &fileOnly, Qt::LeftButton,
                            Qt::NoModifier);
    QApplication::sendEvent(target, &refused);
    QVERIFY(!refused.isAccepted());

    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(one), QUrl::fromLocalFile(file), QUrl::fromLocalFile(two)});
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mixed, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mixed, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
    // Copied, never moved: the file manager keeps its folders.
    QCOMPARE(drop.dropAction(), Qt::CopyAction);

    QStringList expected{one, two};
    expected.sort();
    QStringList listed = dlg.folders();
    listed.sort();
    QCOMPARE(listed, expected);
    QVERIFY(dlg.isVisible());
}

void MainDialogTest::leftOutTilesShowResults() {
    QTemporaryDir temp;
    const QString folder = makeDataFolder(temp, QStringLiteral("block"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/empty_tile")));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/broken_tile")));
    QFile broken(folder + QStringLiteral("/broken_tile/root.osgb"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("this is not a scene");
    broken.close();

    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime({folder}));
    clickButton(dlg, QStringLiteral("addButton"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QApplication::clipboard()->clear();
    QString copied;
    ResultsReader results(QStringLiteral("results_left_out"), [&](QDialog*, QTreeWidget* tree) {
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
        copied = QApplication::clipboard()->text();
    });
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(results.seen());
    QCOMPARE(results.title, QStringLiteral("导出结果"));
    QVERIFY(results.titleShown);
    QCOMPARE(results.headline, QStringLiteral("导出成功"));
    QVERIFY2(results.hasRow(QStringLiteral("empty_tile|无 root.osgb，也无 empty_tile.osgb")),
             qPrintable(results.rows.join(u'\n')));
    QVERIFY2(results.hasRow(QStringLiteral("broken_tile|root.osgb 无法加载")),
             qPrintable(results.rows.join(u'\n')));
    QVERIFY2(results.hasRow(QDir::toNativeSeparators(folder) + QStringLiteral("|已写入|1|")),
             qPrintable(results.rows.join(u'\n')));
    // Ctrl+C copies the whole report, not just the row in hand.
    QVERIFY2(copied.contains(QStringLiteral("empty_tile：无 root.osgb")), qPrintable(copied));
    QVERIFY2(copied.contains(QStringLiteral("broken_tile：root.osgb 无法加载")),
             qPrintable(copied));
    QVERIFY2(copied.startsWith(QStringLiteral("导出成功\n")), qPrintable(copied));
    // Every index was written: closing the results ends the dialog.
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.isVisible());
    QVERIFY(hasIndex(folder));
}

void MainDialogTest::failedRunReturnsToList() {
    QTemporaryDir temp;
    const QString good = makeDataFolder(temp, QStringLiteral("good"));
    // An index cannot replace a non-empty directory of the same name.
    const QString blocked = makeDataFolder(temp, QStringLiteral("blocked"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral("/root.osgb/keep")));
    const QString missing = temp.filePath(QStringLiteral("missing"));

    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime({good, blocked, missing}));
    for (int i = 0; i < 3; ++i)
        clickButton(dlg, QStringLiteral("addButton"));
    const QStringList before = dlg.folders();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    ResultsReader results(QStringLiteral("results_failed_real"));
    ModalWatcher wrongly(QStringLiteral("exportSucceeded"),
                         [](QWidget* w) { static_cast<QMessageBox*>(w)->accept(); });
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(results.seen());
    QVERIFY(!wrongly.seen());
    QCOMPARE(results.headline, QStringLiteral("导出未完成"));
    const QString rows = results.rows.join(u'\n');
    QVERIFY2(results.hasRow(QDir::toNativeSeparators(good) + QStringLiteral("|已写入")),
             qPrintable(rows));
    QVERIFY2(results.hasRow(QDir::toNativeSeparators(blocked) + QStringLiteral("|失败")),
             qPrintable(rows));
    QVERIFY2(results.hasRow(
                 QStringLiteral("错误：目录 %1 不存在").arg(QDir::toNativeSeparators(missing))),
             qPrintable(rows));
    // Back to the list, exactly as it was, to remove the cause and try again.
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.folders(), before);
    QVERIFY(!dlg.lastReport().succeeded());
    QVERIFY(hasIndex(good));
}

void MainDialogTest::runThatThrowsReturnsToList() {
    QTemporaryDir temp;
    const QString a = makeDataFolder(temp, QStringLiteral("a"));
    const QString b = makeDataFolder(temp, QStringLiteral("b"));
    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime({a, b}));
    for (int i = 0; i < 2; ++i)
        clickButton(dlg, QStringLiteral("addButton"));
    const QStringList before = dlg.folders();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    struct Case {
        QString name;
        std::function<void()> fail;
        QStringList said; // what the box must say
    };
    const Case cases[] = {
        {QStringLiteral("out_of_memory"),
         [] { throw std::bad_alloc(); },
         {QStringLiteral("内存不足")}},
        {QStringLiteral("exception"),
         [] { throw std::runtime_error("tile index 7 out of range"); },
         {QStringLiteral("意外错误"), QStringLiteral("tile index 7 out of range")}},
        {QStringLiteral("not_an_exception"), [] { throw 42; }, {QStringLiteral("意外错误")}},
    };
    for (const Case& c : cases) {
        dlg.setExportRunner([&c](const std::vector<std::filesystem::path>&,
                                 const brindle::ExportOptions&,
                                 const brindle::ExportCalls&) -> brindle::ExportReport {
            c.fail();
            return {};
        });
        BoxReader box(QStringLiteral("exportFailed"), QStringLiteral("run_threw_") + c.name);
        ModalWatcher wrongly(QStringLiteral("exportSucceeded"),
                             [](QWidget* w) { static_cast<QMessageBox*>(w)->accept(); });
        clickButton(dlg, QStringLiteral("okButton"));
        QVERIFY2(box.seen(), qPrintable(c.name));
        QVERIFY(!wrongly.seen());
        for (const QString& words : c.said)
            QVERIFY2(box.text.contains(words), qPrintable(box.text));
        QCOMPARE(box.buttons, 1);
        // Back to the list as it was, ready for another OK.
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.folders(), before);
        QVERIFY(dlg.lastReport().folders.empty());
    }
}

void MainDialogTest::resultsTellTheWholeStory() {
    // A report as a large run gives it: hundreds of left-out tiles, an origin carried over,
    // a warning, and a folder that could not be written.
    brindle::ExportReport report;
    brindle::FolderReport first = writtenFolder("/survey/block_a");
    first.originSource = brindle::OriginSource::ThisFolder;
    first.originReport = "/survey/block_a/report.txt";
    first.translation = {512345.25, 3371234.5, 0};
    for (int i = 0; i < 300; ++i)
        first.leftOut.push_back(
            {QStringLiteral("Tile_+%1_+000").arg(i, 3, 10, QLatin1Char('0')).toStdString(),
             i % 3 ? brindle::TileStatus::NoRootFile : brindle::TileStatus::TimedOut,
             {},
             20000,
             {},
             {}});
    brindle::FolderReport second = writtenFolder("/survey/block_b");
    second.originSource = brindle::OriginSource::CarriedOver;
    second.originReport = first.originReport;
    second.translation = first.translation;
    second.warnings.push_back(
        {brindle::ProblemKind::ReportNoOrigin, "/survey/block_b/report.txt", {}});
    second.leftOut.push_back(
        {"Tile_9", brindle::TileStatus::OutOfMemory, {}, std::uint64_t{512} << 20, {}, {}});
    brindle::FolderReport third;
    third.folder = "/survey/block_c";
    third.status = brindle::FolderStatus::Failed;
    third.error = brindle::Problem{brindle::ProblemKind::WriteFailed, "/survey/block_c/root.osgb",
                                   std::make_error_code(std::errc::no_space_on_device)};
    report.folders = {first, second, third};

    CBrindleDlg dlg;
    dlg.setFolderChooser(
        oneAtATime({QStringLiteral("/survey/block_b"), QStringLiteral("/survey/block_a"),
                    QStringLiteral("/survey/block_c")}));
    for (int i = 0; i < 3; ++i)
        clickButton(dlg, QStringLiteral("addButton"));
    const QStringList before = dlg.folders();
    dlg.setExportRunner(scriptedRunner(report));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QString copied;
    bool longListCollapsed = false;
    bool scrolls = false;
    ResultsReader results(QStringLiteral("results_large"), [&](QDialog* window, QTreeWidget* tree) {
        QTreeWidgetItem* group = tree->topLevelItem(0)->child(0);
        longListCollapsed = group && group->childCount() == 300 && !group->isExpanded();
        group->setExpanded(true);
        QApplication::processEvents();
        scrolls = tree->verticalScrollBar()->maximum() > 0;
        window->grab().save(screenshotPath(QStringLiteral("results_large_expanded")));
        group->setExpanded(false);
        QApplication::clipboard()->clear();
        clickButton(*window, QStringLiteral("copyButton"));
        copied = QApplication::clipboard()->text();
    });
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(results.seen());
    QCOMPARE(results.headline, QStringLiteral("导出未完成"));
    QVERIFY2(results.summary.contains(QStringLiteral("1 个目录失败")), qPrintable(results.summary));
    const QString rows = results.rows.join(u'\n');
    const QString blockA = QDir::toNativeSeparators(QStringLiteral("/survey/block_a"));
    QVERIFY2(results.hasRow(QStringLiteral("未收录的子目录（300 个）")), qPrintable(rows));
    QVERIFY2(results.hasRow(QStringLiteral("Tile_+000_+000|root.osgb 加载超过 20 秒")),
             qPrintable(rows));
    QVERIFY2(results.hasRow(QStringLiteral("Tile_9|root.osgb 加载需要超过 512 MB 内存")),
             qPrintable(rows));
    QVERIFY2(
        results.hasRow(
            QStringLiteral("(512345.25, 3371234.5, 0)，沿用目录 %1 的 report.txt").arg(blockA)),
        qPrintable(rows));
    QVERIFY2(results.hasRow(QStringLiteral("警告：")), qPrintable(rows));
    QVERIFY2(results.hasRow(
                 QStringLiteral("错误：无法写入 %1：磁盘空间不足")
                     .arg(QDir::toNativeSeparators(QStringLiteral("/survey/block_c/root.osgb")))),
             qPrintable(rows));
    QVERIFY(longListCollapsed);
    QVERIFY(scrolls);
    // The copy holds every left-out tile, collapsed or not.
    QVERIFY2(copied.contains(QStringLiteral("Tile_+299_+000：无 root.osgb")), qPrintable(copied));
    QVERIFY2(copied.contains(QStringLiteral("沿用目录 %1 的 report.txt").arg(blockA)),
             qPrintable(copied));
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.folders(), before);
}

void MainDialogTest::blocksShowUnderTheirFolder() {
    // A folder of blocks comes after its blocks in the report; the window shows them under it.
    brindle::ExportReport report;
    brindle::FolderReport a = writtenFolder("/project/Block_A");
    a.master = "/project";
    a.originSource = brindle::OriginSource::Metadata;
    a.originReport = "/project/Block_A/metadata.xml";
    a.srs = "EPSG:4547";
    brindle::FolderReport b = writtenFolder("/project/Block_B");
    b.master = "/project";
    brindle::FolderReport master = writtenFolder("/project");
    master.originSource = brindle::OriginSource::Blocks;
    master.blocks = {a.folder, b.folder};
    report.folders = {a, b, master, writtenFolder("/other")};

    CResultsDlg dialog(report);
    auto* tree = dialog.findChild<QTreeWidget*>(QStringLiteral("resultsTree"));
    QVERIFY(tree);
    QCOMPARE(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* top = tree->topLevelItem(0);
    QCOMPARE(top->text(0), QDir::toNativeSeparators(QStringLiteral("/project")));
    QVERIFY2(top->text(3).contains(QStringLiteral("各分块的索引自带平移")),
             qPrintable(top->text(3)));
    QStringList children;
    for (int i = 0; i < top->childCount(); ++i)
        children << top->child(i)->text(0);
    QVERIFY2(children.contains(QDir::toNativeSeparators(QStringLiteral("/project/Block_A"))),
             qPrintable(children.join(u'|')));
    QVERIFY2(children.contains(QDir::toNativeSeparators(QStringLiteral("/project/Block_B"))),
             qPrintable(children.join(u'|')));
    QTreeWidgetItem* blockA = nullptr;
    for (int i = 0; i < top->childCount(); ++i)
        if (top->child(i)->text(0).endsWith(QStringLiteral("Block_A")))
            blockA = top->child(i);
    QVERIFY(blockA);
    QVERIFY2(blockA->text(3).contains(QStringLiteral("坐标系 EPSG:4547")),
             qPrintable(blockA->text(3)));
    // A spatial reference too long for its column has a row of its own, whole.
    QStringList sentences;
    for (int i = 0; i < blockA->childCount(); ++i)
        sentences << blockA->child(i)->text(0);
    QVERIFY2(sentences.contains(QStringLiteral("坐标系：EPSG:4547")),
             qPrintable(sentences.join(u'|')));
    brindle::FolderReport wkt = writtenFolder("/survey/wkt");
    wkt.originSource = brindle::OriginSource::Metadata;
    wkt.originReport = "/survey/wkt/metadata.xml";
    wkt.srs = "PROJCS[\"CGCS2000 / 3-degree Gauss-Kruger CM 114E\",GEOGCS[\"China Geodetic "
              "Coordinate System 2000\",DATUM[\"China_2000\",SPHEROID[\"CGCS2000\",6378137,"
              "298.257222101]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],"
              "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"central_meridian\",114],"
              "UNIT[\"metre\",1],AUTHORITY[\"EPSG\",\"4547\"]]";
    CResultsDlg long_(brindle::ExportReport{{wkt}, false, {}});
    auto* longTree = long_.findChild<QTreeWidget*>(QStringLiteral("resultsTree"));
    QVERIFY(longTree && longTree->topLevelItem(0)->childCount() > 0);
    QCOMPARE(longTree->topLevelItem(0)->child(0)->text(0).remove(QLatin1Char('\n')),
             QStringLiteral("坐标系：") + QString::fromStdString(wkt.srs));
    QVERIFY(longTree->topLevelItem(0)->child(0)->text(0).count(QLatin1Char('\n')) >= 2);
    long_.show();
    QVERIFY(QTest::qWaitForWindowExposed(&long_));
    long_.grab().save(screenshotPath(QStringLiteral("results_long_srs")));
    QVERIFY2(dialog.reportText().contains(QStringLiteral("属于分块目录")),
             qPrintable(dialog.reportText()));
}

void MainDialogTest::pagedIndexIsOffered() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime({QStringLiteral("/survey/a")}));
    clickButton(dlg, QStringLiteral("addButton"));
    auto* paged = dlg.findChild<QRadioButton*>(QStringLiteral("pagedIndex"));
    QVERIFY(paged);
    QVERIFY(!paged->isChecked());
    paged->click();
    brindle::IndexKind asked = brindle::IndexKind::Proxy;
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions& options, const brindle::ExportCalls&) {
        asked = options.index;
        brindle::ExportReport report;
        report.folders.push_back(writtenFolder(folders.at(0)));
        report.folders.back().index = options.index;
        report.folders.back().proxyLeaves = {"nested\\root.osgb"};
        report.folders.back().leftOut.push_back(
            {"Empty", brindle::TileStatus::NoRootFile, {}, 0, {}, {}});
        return report;
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QString entries;
    ModalWatcher results(QStringLiteral("exportResults"), [&](QWidget* w) {
        if (auto* tree = w->findChild<QTreeWidget*>())
            entries = tree->topLevelItem(0)->text(2);
        w->close();
    });
    clickButton(dlg, QStringLiteral("okButton"));
    QVERIFY(results.seen());
    QVERIFY(asked == brindle::IndexKind::Paged);
    QVERIFY2(entries.contains(QStringLiteral("分页索引")), qPrintable(entries));
    QVERIFY2(entries.contains(QStringLiteral("1 个范围未知")), qPrintable(entries));
}

void MainDialogTest::overviewIndexIsOfferedAndItsHolesShown() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime({QStringLiteral("/survey/a")}));
    clickButton(dlg, QStringLiteral("addButton"));
    auto* overview = dlg.findChild<QRadioButton*>(QStringLiteral("overviewIndex"));
    QVERIFY(overview);
    QVERIFY(!overview->isChecked());
    overview->click();
    brindle::IndexKind asked = brindle::IndexKind::Proxy;
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions& options, const brindle::ExportCalls&) {
        asked = options.index;
        brindle::ExportReport report;
        report.folders.push_back(writtenFolder(folders.at(0)));
        report.folders.back().index = options.index;
        // Every tile listed, nothing else amiss: the holes alone must bring up the results.
        report.folders.back().overviewHoles = {
            {"Tile_flat", brindle::SummaryFailure::NoSurface, {}},
            {"Tile_locked", brindle::SummaryFailure::Unreadable,
             std::make_error_code(std::errc::permission_denied)}};
        return report;
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const brindle::OverviewHole flat{"Tile_flat", brindle::SummaryFailure::NoSurface, {}};
    const QString flatReason = brindle::ui::QText(
        brindle::wording::DescribeOverviewHole(brindle::wording::Language::Chinese, flat));
    {
        ModalWatcher success(QStringLiteral("exportSucceeded"), [](QWidget* w) { w->close(); });
        ResultsReader results(QStringLiteral("results_overview_holes"));
        clickButton(dlg, QStringLiteral("okButton"));
        QVERIFY(!success.seen());
        QVERIFY(results.seen());
        QVERIFY(asked == brindle::IndexKind::Overview);
        const QString rows = results.rows.join(u'\n');
        QVERIFY2(results.hasRow(QStringLiteral("|已写入|1（总览索引）|")), qPrintable(rows));
        QVERIFY2(results.hasRow(QStringLiteral("总览中缺少的瓦片（2 个")), qPrintable(rows));
        QVERIFY2(results.hasRow(QStringLiteral("Tile_flat|") + flatReason), qPrintable(rows));
        QVERIFY2(results.hasRow(QStringLiteral("Tile_locked|")), qPrintable(rows));
        QVERIFY2(results.hasRow(QStringLiteral("权限不足")), qPrintable(rows));
        QVERIFY2(results.summary.contains(QStringLiteral("2 个瓦片在总览中缺失")),
                 qPrintable(results.summary));
    }
    // The index was written: the dialog's work is done.
    QCOMPARE(dlg.result(), int(QDialog::Accepted));

    // The old levels that could not be removed are a warning of the folder's, like any other.
    CBrindleDlg again;
    again.setFolderChooser(oneAtATime({QStringLiteral("/survey/a")}));
    clickButton(again, QStringLiteral("addButton"));
    again.findChild<QRadioButton*>(QStringLiteral("overviewIndex"))->click();
    again.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                              const brindle::ExportOptions& options, const brindle::ExportCalls&) {
        brindle::ExportReport report;
        report.folders.push_back(writtenFolder(folders.at(0)));
        report.folders.back().index = options.index;
        report.folders.back().warnings.push_back(
            {brindle::ProblemKind::OldOverviewKept, folders.at(0) / "old_levels",
             std::make_error_code(std::errc::permission_denied)});
        return report;
    });
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    ResultsReader results(QStringLiteral("results_old_overview_kept"));
    clickButton(again, QStringLiteral("okButton"));
    QVERIFY(results.seen());
    const QString warning = QStringLiteral("警告：") +
                            brindle::ui::QText(brindle::wording::DescribeProblem(
                                brindle::wording::Language::Chinese,
                                {brindle::ProblemKind::OldOverviewKept, "/survey/a/old_levels",
                                 std::make_error_code(std::errc::permission_denied)}));
    QVERIFY2(results.hasRow(warning), qPrintable(results.rows.join(u'\n')));
}

namespace {

// A folder of `count` empty subfolders, and a file that is not one.
QString folderOfSubfolders(const QTemporaryDir& temp, const QString& name, int count) {
    const QString folder = temp.filePath(name);
    for (int i = 0; i < count; ++i)
        QDir().mkpath(folder + QStringLiteral("/Tile_%1").arg(i));
    QFile file(folder + QStringLiteral("/report.txt"));
    file.open(QIODevice::WriteOnly);
    return folder;
}

} // namespace

void MainDialogTest::pagedIndexIsSuggestedForBigFolders() {
    QTemporaryDir temp;
    const QString big = folderOfSubfolders(temp, QStringLiteral("big"), 2001);
    const QString atThreshold = folderOfSubfolders(temp, QStringLiteral("at_threshold"), 2000);
    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime({atThreshold, big}));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* hint = dlg.findChild<QLabel*>(QStringLiteral("pagedIndexHint"));
    auto* proxy = dlg.findChild<QRadioButton*>(QStringLiteral("proxyIndex"));
    auto* paged = dlg.findChild<QRadioButton*>(QStringLiteral("pagedIndex"));
    QVERIFY(hint && proxy && paged);
    QSignalSpy counted(&dlg, &CBrindleDlg::subfoldersCounted);

    // 2,000 subfolders are not too many for the proxy index.
    clickButton(dlg, QStringLiteral("addButton"));
    QVERIFY(counted.wait(10000));
    QCOMPARE(counted.takeFirst().at(0).toString(), atThreshold);
    QVERIFY(!hint->isVisible());

    // 2,001 are: the hint names the folder, under the index choice.
    clickButton(dlg, QStringLiteral("addButton"));
    QVERIFY(counted.wait(10000));
    QCOMPARE(counted.takeFirst().at(0).toString(), big);
    QVERIFY(hint->isVisible());
    QCOMPARE(hint->text(),
             QStringLiteral("提示：big 有超过 2000 个子目录，建议选用总览索引，远看整个测区，"
                            "近看加载瓦片；只看局部时也可选分页索引。"));
    QVERIFY(hint->y() > proxy->y());
    QVERIFY(renders(*hint, hint->text()));
    dlg.grab().save(screenshotPath(QStringLiteral("main_dialog_paged_hint")));

    // Chosen already: nothing to suggest; back to the proxy index, the hint returns.
    auto* overview = dlg.findChild<QRadioButton*>(QStringLiteral("overviewIndex"));
    QVERIFY(overview);
    overview->click();
    QVERIFY(!hint->isVisible());
    proxy->click();
    QVERIFY(hint->isVisible());
    paged->click();
    QVERIFY(!hint->isVisible());
    proxy->click();
    QVERIFY(hint->isVisible());

    // The big folder removed, the hint goes; listed again, it comes back without a recount.
    auto* list = dlg.findChild<QListWidget*>(QStringLiteral("folderList"));
    list->setCurrentRow(static_cast<int>(dlg.folders().indexOf(big)));
    clickButton(dlg, QStringLiteral("deleteButton"));
    QCOMPARE(dlg.folders(), QStringList{atThreshold});
    QVERIFY(!hint->isVisible());
    dlg.setFolderChooser(oneAtATime({big}));
    clickButton(dlg, QStringLiteral("addButton"));
    QVERIFY(hint->isVisible());
    QVERIFY(counted.isEmpty());

    // A production folder's tiles are in its Data folder: those are counted, and the hint names
    // the folder listed.
    const QString production = temp.filePath(QStringLiteral("production"));
    folderOfSubfolders(temp, QStringLiteral("production/Data"), 2001);
    QFile metadata(production + QStringLiteral("/metadata.xml"));
    QVERIFY(metadata.open(QIODevice::WriteOnly));
    metadata.close();
    list->setCurrentRow(static_cast<int>(dlg.folders().indexOf(big)));
    clickButton(dlg, QStringLiteral("deleteButton"));
    QVERIFY(!hint->isVisible());
    dlg.setFolderChooser(oneAtATime({production}));
    clickButton(dlg, QStringLiteral("addButton"));
    QVERIFY(counted.wait(10000));
    QCOMPARE(counted.takeFirst().at(0).toString(), production);
    QVERIFY(hint->isVisible());
    QVERIFY2(hint->text().startsWith(QStringLiteral("提示：production 有超过 2000 个子目录")),
             qPrintable(hint->text()));
}

void MainDialogTest::replaceIsAskedAndAnswered() {
    const brindle::Problem asked{
        brindle::ProblemKind::ExistingHoldsScene, "/survey/a/root.osgb", {}};
    CBrindleDlg dlg;
    dlg.setFolderChooser(oneAtATime({QStringLiteral("/survey/a")}));
    clickButton(dlg, QStringLiteral("addButton"));
    QList<brindle::ProblemKind> kinds;
    QStringList paths;
    bool onGuiThread = true;
    dlg.setReplaceConfirmer([&](const brindle::Problem& why) {
        kinds << why.kind;
        paths << QString::fromStdString(why.path.string());
        onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
        return true;
    });
    bool runSaw = false;
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions&, const brindle::ExportCalls& calls) {
        runSaw = calls.confirmReplace && calls.confirmReplace(asked);
        brindle::ExportReport report;
        report.folders.push_back(writtenFolder(folders.at(0)));
        return report;
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    BoxReader done(QStringLiteral("exportSucceeded"), QStringLiteral("export_replaced"));
    clickButton(dlg, QStringLiteral("okButton"));
    QVERIFY(done.seen());
    // Asked once, on the GUI thread, about the run's very problem; the answer reaches the run.
    QCOMPARE(kinds, QList<brindle::ProblemKind>{brindle::ProblemKind::ExistingHoldsScene});
    QCOMPARE(paths, QStringList{QStringLiteral("/survey/a/root.osgb")});
    QVERIFY(onGuiThread);
    QVERIFY(runSaw);
}

void MainDialogTest::replaceBoxKeepsByDefault() {
    // The real question, asked from the run's thread over the progress dialog.
    for (const bool pressReplace : {false, true}) {
        CBrindleDlg dlg;
        dlg.setFolderChooser(oneAtATime({QStringLiteral("/survey/a")}));
        clickButton(dlg, QStringLiteral("addButton"));
        bool runSaw = !pressReplace;
        dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                                const brindle::ExportOptions&, const brindle::ExportCalls& calls) {
            runSaw = calls.confirmReplace(
                {brindle::ProblemKind::NoTilesKeptIndex, folders.at(0) / "root.osgb", {}});
            brindle::ExportReport report;
            report.folders.push_back(writtenFolder(folders.at(0)));
            return report;
        });
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QString text;
        QString defaultText;
        bool titleShown = false;
        ModalWatcher question(QStringLiteral("confirmReplace"), [&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            text = box->text();
            defaultText = box->defaultButton() ? box->defaultButton()->text() : QString();
            titleShown = titleFits(*box);
            if (pressReplace) {
                clickButton(*box, QStringLiteral("replaceButton"));
            } else {
                box->grab().save(screenshotPath(QStringLiteral("confirm_replace")));
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        BoxReader done(QStringLiteral("exportSucceeded"), QStringLiteral("export_replaced"));
        clickButton(dlg, QStringLiteral("okButton"));
        QVERIFY(question.seen());
        QVERIFY(done.seen());
        QVERIFY2(text.contains(QDir::toNativeSeparators(QStringLiteral("/survey/a"))) &&
                     text.contains(QStringLiteral("空索引")),
                 qPrintable(text));
        QCOMPARE(defaultText, QStringLiteral("不替换"));
        QVERIFY(titleShown);
        // Enter keeps the file; only the Replace button replaces it.
        QCOMPARE(runSaw, pressReplace);
    }
}

void MainDialogTest::cancellingTheRunStopsIt() {
    CBrindleDlg dlg;
    dlg.setFolderChooser(
        oneAtATime({QStringLiteral("/data/second"), QStringLiteral("/data/first")}));
    std::atomic<bool> firstSeen{false};
    bool sawCancel = false;
    bool replacedAfterCancel = true;
    // Stands in for a long run: reports the start, then all tiles and folders done, then waits
    // to be cancelled. It waits on the test's watchers, not on the clock.
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions&, const brindle::ExportCalls& calls) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        brindle::ExportProgress step;
        step.folderCount = folders.size();
        step.folder = folders.front();
        step.subfolderCount = 8;
        step.subfoldersDone = 3;
        calls.progress(step);
        while (!firstSeen && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        step.foldersDone = folders.size();
        step.folder = folders.back();
        step.subfoldersDone = 8;
        calls.progress(step);
        while (!calls.cancel->load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        sawCancel = calls.cancel->load();
        // A run winding down may still ask to replace a file; nobody is asked any more, the
        // file is kept, and the dialog does not wait for the run while the run waits for it.
        replacedAfterCancel = calls.confirmReplace(
            {brindle::ProblemKind::ExistingHoldsScene, folders.back() / "root.osgb", {}});
        brindle::ExportReport report;
        report.cancelled = true;
        for (const auto& folder : folders) {
            brindle::FolderReport cancelled;
            cancelled.folder = folder;
            cancelled.status = brindle::FolderStatus::Cancelled;
            report.folders.push_back(cancelled);
        }
        return report;
    });
    clickButton(dlg, QStringLiteral("addButton"));
    clickButton(dlg, QStringLiteral("addButton"));
    const QStringList before = dlg.folders();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    const auto labelHas = [](const QString& part) {
        return [part](QWidget* w) {
            return static_cast<QProgressDialog*>(w)->labelText().contains(part);
        };
    };
    QString firstLabel;
    ModalWatcher started(
        QStringLiteral("exportProgress"),
        [&](QWidget* w) {
            firstLabel = static_cast<QProgressDialog*>(w)->labelText();
            firstSeen = true;
        },
        labelHas(QStringLiteral("3/8")));
    QString lastLabel;
    int barValue = -1;
    int barMaximum = -1;
    bool titleShown = false;
    ModalWatcher allDone(
        QStringLiteral("exportProgress"),
        [&](QWidget* w) {
            auto* dialog = static_cast<QProgressDialog*>(w);
            lastLabel = dialog->labelText();
            barValue = dialog->value();
            barMaximum = dialog->maximum();
            titleShown = titleFits(*dialog);
            dialog->grab().save(screenshotPath(QStringLiteral("export_progress")));
            auto* cancel = dialog->findChild<QPushButton*>();
            QVERIFY(cancel);
            cancel->click();
        },
        labelHas(QStringLiteral("8/8")));
    ResultsReader results(QStringLiteral("results_cancelled"));
    ModalWatcher question(QStringLiteral("confirmReplace"), [](QWidget* w) { w->close(); });
    clickButton(dlg, QStringLiteral("okButton"));

    QVERIFY(started.seen());
    QVERIFY(allDone.seen());
    // The folder in hand counts from 1, and stays within the count once all are done.
    QVERIFY2(firstLabel.startsWith(QStringLiteral("目录 1/2：/data/first")),
             qPrintable(firstLabel));
    QVERIFY2(lastLabel.startsWith(QStringLiteral("目录 2/2：/data/second")), qPrintable(lastLabel));
    // Once some tiles are checked, the rate so far tells the time left; at the end, nothing.
    QVERIFY2(firstLabel.contains(QStringLiteral("，预计还需约 ")), qPrintable(firstLabel));
    QVERIFY2(!lastLabel.contains(QStringLiteral("预计")), qPrintable(lastLabel));
    QVERIFY(barMaximum > 0);
    QCOMPARE(barValue, barMaximum);
    QVERIFY(titleShown);
    QVERIFY(sawCancel);
    QVERIFY(!replacedAfterCancel);
    QVERIFY(!question.seen());
    QVERIFY(results.seen());
    QCOMPARE(results.headline, QStringLiteral("导出未完成"));
    QVERIFY2(results.hasRow(QStringLiteral("/data/first|已取消")),
             qPrintable(results.rows.join(u'\n')));
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.folders(), before);
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
                            const brindle::ExportOptions& options,
                            const brindle::ExportCalls& calls) {
        ran = true;
        return brindle::ExportFolderIndexes(folders, options, calls);
    };
    // The Cancel button, Escape and the close box all leave without a run.
    for (int way = 0; way < 3; ++way) {
        CBrindleDlg dlg;
        dlg.setFolderChooser(oneAtATime({folder}));
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
    dlg.setFolderChooser(oneAtATime({QStringLiteral("/data/b"), QStringLiteral("/data/a")}));
    clickButton(dlg, QStringLiteral("addButton"));
    clickButton(dlg, QStringLiteral("addButton"));
    const QStringList before = dlg.folders();
    dlg.show();
    // Without a window manager (a bare X server) nobody activates the window but us.
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));

    auto* about = dlg.findChild<QAction*>(QStringLiteral("aboutAction"));
    QVERIFY(about);
    QVERIFY(dlg.actions().contains(about));
    QCOMPARE(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);

    QString title;
    QStringList lines;
    bool titleShown = false;
    ModalWatcher box(QStringLiteral("aboutDialog"), [&](QWidget* w) {
        title = w->windowTitle();
        titleShown = titleFits(*w);
        auto* icon = w->findChild<QLabel*>(QStringLiteral("aboutIcon"));
        QVERIFY(icon && !icon->pixmap().isNull());
        for (QLabel* label : w->findChildren<QLabel*>())
            if (!label->text().isEmpty())
                lines << label->text();
        w->grab().save(screenshotPath(QStringLiteral("about")));
        auto* ok = w->findChild<QPushButton*>();
        QVERIFY(ok);
        QVERIFY(renders(*ok, ok->text()));
        QVERIFY(ok->isDefault());
        ok->click();
    });
    // F1 is the keyboard way in.
    QTest::keyClick(&dlg, Qt::Key_F1);

    QVERIFY(box.seen());
    QVERIFY2(title.contains(QStringLiteral("Brindle")), qPrintable(title));
    QVERIFY(titleShown);
    // The version shown is the program's: 1.0 from the project's 1.0.0.1.
    QVERIFY2(lines.contains(QStringLiteral("Brindle，1.0 版")), qPrintable(lines.join(u'|')));
    QVERIFY2(std::any_of(lines.begin(), lines.end(),
                         [](const QString& line) {
                             return line.startsWith(QStringLiteral("OpenSceneGraph 3."));
                         }),
             qPrintable(lines.join(u'|')));
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.folders(), before);
}

void MainDialogTest::folderChooserIsChinese() {
    QTemporaryDir temp;
    const QString last = makeDataFolder(temp, QStringLiteral("block_b"));
    makeDataFolder(temp, QStringLiteral("block_a"));
    const std::unique_ptr<QFileDialog> chooser = CreateFolderDialog(nullptr, last);
    chooser->show();
    QVERIFY(QTest::qWaitForWindowExposed(chooser.get()));

    // It opens beside the folder added last, with that folder picked.
    QCOMPARE(QDir(chooser->directory()).canonicalPath(), QDir(temp.path()).canonicalPath());
    QCOMPARE(chooser->selectedFiles().size(), 1);
    QCOMPARE(QFileInfo(chooser->selectedFiles().front()).fileName(), QStringLiteral("block_b"));
    // Several folders can be picked at once.
    auto* listView = chooser->findChild<QListView*>(QStringLiteral("listView"));
    QVERIFY(listView);
    QCOMPARE(listView->selectionMode(), QAbstractItemView::ExtendedSelection);

    // Every text on it is Chinese: its labels, the views' columns, and the tool tips that
    // come from Qt's own translations.
    const QRegularExpression english(QStringLiteral("[A-Za-z]{3}"));
    QStringList englishTexts;
    for (QLabel* label : chooser->findChildren<QLabel*>())
        if (label->isVisible() && label->text().contains(english))
            englishTexts << label->text();
    for (QToolButton* button : chooser->findChildren<QToolButton*>())
        if (button->isVisible() &&
            (button->toolTip().isEmpty() || button->toolTip().contains(english)))
            englishTexts << button->objectName() + QLatin1Char('=') + button->toolTip();
    auto* treeView = chooser->findChild<QTreeView*>(QStringLiteral("treeView"));
    QVERIFY(treeView);
    QAbstractItemModel* model = treeView->model();
    QTRY_VERIFY(model->rowCount(treeView->rootIndex()) >= 2);
    for (int column = 0; column < model->columnCount(treeView->rootIndex()); ++column) {
        englishTexts << model->headerData(column, Qt::Horizontal).toString();
        if (column > 0)
            englishTexts << model->index(0, column, treeView->rootIndex()).data().toString();
    }
    englishTexts = englishTexts.filter(english);
    QVERIFY2(englishTexts.isEmpty(), qPrintable(englishTexts.join(u'|')));
    QTRY_VERIFY(listView->model()->rowCount(listView->rootIndex()) >= 2);
    chooser->grab().save(screenshotPath(QStringLiteral("folder_chooser")));

    // Picking both folders and pressing 选择 hands both back.
    listView->selectAll();
    auto* buttons = chooser->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QVERIFY(buttons && buttons->button(QDialogButtonBox::Open));
    QCOMPARE(buttons->button(QDialogButtonBox::Open)->text(), QStringLiteral("选择"));
    QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
    QCOMPARE(chooser->result(), int(QDialog::Accepted));
    QStringList chosen;
    for (const QString& folder : chooser->selectedFiles())
        chosen << QFileInfo(folder).fileName();
    chosen.sort();
    QCOMPARE(chosen, (QStringList{QStringLiteral("block_a"), QStringLiteral("block_b")}));
}

void MainDialogTest::pathsSurviveTheRoundTrip() {
    const QString name = QStringLiteral("测区/块 1/Tile_+001_é");
    const std::filesystem::path path = brindle::ui::PathFromQString(name);
    QCOMPARE(brindle::ui::QStringFromPath(path), name);
#ifndef _WIN32
    // On Linux the bytes on disk are the UTF-8 of the name.
    QCOMPARE(QByteArray::fromStdString(path.string()), name.toUtf8());
#endif
}

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
