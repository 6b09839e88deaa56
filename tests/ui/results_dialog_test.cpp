// What the dialog tells at the end of a run, and how it asks before replacing: the buttons
// answer the question asked, the success box says what was written and how long it took, long
// sentences are wrapped whole, and an overview's block is shown as a picture.
#include "folder_list.h"
#include "locale_zh.h"
#include "main_dialog.h"
#include "results_dialog.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <functional>
#include <thread>

namespace {

QString screenshotPath(const QString& name) {
    return QStringLiteral(BRINDLE_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
}

// Acts on the modal window of the given name once it shows, while the code under test runs
// its nested event loops.
class ModalWatcher : public QObject {
public:
    ModalWatcher(QString name, std::function<void(QWidget*)> act)
        : m_name(std::move(name)), m_act(std::move(act)) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, timer] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal->objectName() != m_name || !modal->isVisible())
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
    std::function<void(QWidget*)> m_act;
    bool m_seen = false;
};

brindle::FolderReport writtenFolder(const std::filesystem::path& folder,
                                    brindle::IndexKind index = brindle::IndexKind::Proxy,
                                    std::size_t entries = 1) {
    brindle::FolderReport report;
    report.folder = folder;
    report.indexFile = folder / "root.osgb";
    report.status = brindle::FolderStatus::Written;
    report.index = index;
    report.entries.assign(entries, "t\\root.osgb");
    report.translation = osg::Vec3d(512345.678, 3400000.3, 0);
    report.originSource = brindle::OriginSource::ThisFolder;
    report.originReport = folder / "report.txt";
    return report;
}

// A dialog with one folder listed whose run does what `run` does with the options.
void listOneFolder(CBrindleDlg& dlg, const QString& folder) {
    dlg.setFolderChooser([folder](QWidget*, const QString&) { return QStringList{folder}; });
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("addButton")), Qt::LeftButton);
}

// Whether every line of the label's text fits its width, so that none is broken again.
bool linesFit(const QLabel& label) {
    const QFontMetrics metrics = label.fontMetrics();
    for (const QString& line : label.text().split(QLatin1Char('\n')))
        if (metrics.horizontalAdvance(line) > label.contentsRect().width())
            return false;
    return true;
}

} // namespace

class ResultsDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void buttonsAnswerTheQuestionAsked();
    void successBoxSaysWhatWasWrittenAndTheTime();
    void emptyListNamesBothLayouts();
    void longSentencesWrapWhole();
    void anOverviewsBlockIsShownAsAPicture();
};

void ResultsDialogTest::initTestCase() {
    QVERIFY(QDir().mkpath(QStringLiteral(BRINDLE_SCREENSHOT_DIR)));
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 10));
    QApplication::setApplicationName(QStringLiteral("Brindle"));
    QVERIFY(brindle::ui::InstallChineseLocale(*QCoreApplication::instance()));
}

void ResultsDialogTest::buttonsAnswerTheQuestionAsked() {
    // The question about a geographic SRS is whether to write; an empty folder's whether to
    // write an empty index; an existing root.osgb's whether to replace it.
    const struct {
        brindle::ProblemKind kind;
        const char* file;
        QString proceed, keep;
    } cases[] = {
        {brindle::ProblemKind::MetadataGeographicSrs, "metadata.xml", QStringLiteral("按平移写入"),
         QStringLiteral("不写入")},
        {brindle::ProblemKind::NoTilesFound, "", QStringLiteral("写入空索引"),
         QStringLiteral("不写入")},
        {brindle::ProblemKind::ExistingHoldsScene, "root.osgb", QStringLiteral("替换"),
         QStringLiteral("不替换")},
    };
    for (const auto& asked : cases) {
        CBrindleDlg dlg;
        listOneFolder(dlg, QStringLiteral("/survey/a"));
        bool answer = false;
        dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                                const brindle::ExportOptions&, const brindle::ExportCalls& calls) {
            brindle::Problem why{asked.kind, folders.at(0) / asked.file, {}};
            why.srs = {{folders.at(0), "EPSG:4326"}};
            answer = calls.confirmReplace(why);
            brindle::ExportReport report;
            report.folders.push_back(writtenFolder(folders.at(0)));
            return report;
        });
        QString question, proceed, keep, defaultButton;
        ModalWatcher box(QStringLiteral("confirmReplace"), [&](QWidget* w) {
            auto* message = qobject_cast<QMessageBox*>(w);
            QVERIFY(message);
            question = message->text();
            proceed = w->findChild<QPushButton*>(QStringLiteral("replaceButton"))->text();
            keep = w->findChild<QPushButton*>(QStringLiteral("keepButton"))->text();
            defaultButton = message->defaultButton()->text();
            if (asked.kind == brindle::ProblemKind::MetadataGeographicSrs)
                w->grab().save(screenshotPath(QStringLiteral("confirm_geographic_srs")));
            QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("replaceButton")),
                              Qt::LeftButton);
        });
        ModalWatcher done(QStringLiteral("exportSucceeded"), [](QWidget* w) { w->close(); });
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
        QVERIFY(box.seen());
        QCOMPARE(proceed, asked.proceed);
        QCOMPARE(keep, asked.keep);
        QCOMPARE(defaultButton, asked.keep);
        QVERIFY(answer);
        // The question asks what its buttons answer.
        QVERIFY2(question.contains(asked.proceed.left(2)), qPrintable(question));
    }
}

void ResultsDialogTest::successBoxSaysWhatWasWrittenAndTheTime() {
    CBrindleDlg dlg;
    listOneFolder(dlg, QStringLiteral("/survey/测区一号/生产数据/Block_A"));
    dlg.setExportRunner([&](const std::vector<std::filesystem::path>& folders,
                            const brindle::ExportOptions&, const brindle::ExportCalls&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        brindle::ExportReport report;
        report.folders.push_back(writtenFolder(folders.at(0), brindle::IndexKind::Overview, 1600));
        return report;
    });
    QString details;
    bool fits = false;
    ModalWatcher box(QStringLiteral("exportSucceeded"), [&](QWidget* w) {
        auto* message = qobject_cast<QMessageBox*>(w);
        QVERIFY(message);
        details = message->informativeText();
        auto* label = w->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        QVERIFY(label);
        fits = linesFit(*label);
        w->grab().save(screenshotPath(QStringLiteral("export_succeeded_overview")));
        message->button(QMessageBox::Ok)->click();
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
    QVERIFY(box.seen());
    // What was written, in the order Chinese says it, and how long the run took.
    QVERIFY2(details.contains(QStringLiteral("root.osgb：总览索引，1600 个条目")),
             qPrintable(details));
    QVERIFY2(!details.contains(QStringLiteral("） 个条目")), qPrintable(details));
    const QRegularExpression took(QStringLiteral("用时 (\\d+(\\.\\d)?) 秒"));
    const QRegularExpressionMatch match = took.match(details);
    QVERIFY2(match.hasMatch(), qPrintable(details));
    QVERIFY(match.captured(1).toDouble() >= 0.3);
    QVERIFY2(details.contains(QStringLiteral("平移 (512345.678, 3400000.3, 0)")),
             qPrintable(details));
    // No line is broken by the box.
    QVERIFY2(fits, qPrintable(details));
}

void ResultsDialogTest::emptyListNamesBothLayouts() {
    // A folder of tile folders holds root.osgb in each; a production folder holds metadata.xml
    // beside a Data folder, and no root.osgb at all.
    CBrindleDlg dlg;
    auto* list = dlg.findChild<CFolderList*>(QStringLiteral("folderList"));
    QVERIFY(list);
    const QString hint = list->hint();
    for (const char* part : {"root.osgb", "metadata.xml", "Data"})
        QVERIFY2(hint.contains(QLatin1String(part)), qPrintable(hint));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.grab().save(screenshotPath(QStringLiteral("main_dialog_empty_hint")));
    // Each line of the hint fits the list, so none is broken.
    const QFontMetrics metrics = list->fontMetrics();
    for (const QString& line : hint.split(QLatin1Char('\n')))
        QVERIFY2(metrics.horizontalAdvance(line) <= list->viewport()->width() - 48,
                 qPrintable(line));
}

void ResultsDialogTest::longSentencesWrapWhole() {
    brindle::FolderReport failed;
    failed.folder = "/survey/一个名字很长的测区目录/其中的生产数据/分块_甲乙丙丁戊己庚辛壬癸";
    failed.status = brindle::FolderStatus::Failed;
    failed.error = brindle::Problem{brindle::ProblemKind::NoTilesOneLevelTooHigh, failed.folder};
    brindle::FolderReport written = writtenFolder("/survey/b");
    written.warnings.push_back(
        {brindle::ProblemKind::ReportNoOrigin, "/survey/b/一个名字也很长的报告文件.txt", {}});
    CResultsDlg dialog(brindle::ExportReport{{failed, written}, false, {}});
    dialog.resize(700, 480);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QApplication::processEvents();
    auto* tree = dialog.findChild<QTreeWidget*>(QStringLiteral("resultsTree"));
    QVERIFY(tree);
    dialog.grab().save(screenshotPath(QStringLiteral("results_long_error")));
    const QFontMetrics metrics = tree->fontMetrics();
    int sentences = 0;
    for (int f = 0; f < tree->topLevelItemCount(); ++f) {
        QTreeWidgetItem* folder = tree->topLevelItem(f);
        for (int i = 0; i < folder->childCount(); ++i) {
            QTreeWidgetItem* row = folder->child(i);
            if (!row->isFirstColumnSpanned())
                continue;
            ++sentences;
            // Every character is there, and every line is within the tree's sight.
            QString whole = row->text(0);
            QCOMPARE(whole.remove(QLatin1Char('\n')), row->toolTip(0));
            const QRect rect = tree->visualItemRect(row);
            const QStringList lines = row->text(0).split(QLatin1Char('\n'));
            QVERIFY2(lines.size() > 1, qPrintable(row->text(0)));
            for (const QString& line : lines)
                QVERIFY2(rect.left() + metrics.horizontalAdvance(line) <= tree->viewport()->width(),
                         qPrintable(line));
            // The row is tall enough for all its lines.
            QVERIFY2(rect.height() >= lines.size() * metrics.height(),
                     qPrintable(QString::number(rect.height())));
        }
    }
    QCOMPARE(sentences, 2);
    // Wider, the lines follow.
    const auto firstLine = [tree] {
        return tree->topLevelItem(0)->child(0)->text(0).section(QLatin1Char('\n'), 0, 0);
    };
    const QString before = firstLine();
    dialog.resize(1200, 480);
    QApplication::processEvents();
    QVERIFY2(firstLine().size() > before.size() + 10, qPrintable(firstLine()));
}

void ResultsDialogTest::anOverviewsBlockIsShownAsAPicture() {
    // A block twice as wide as high: its west red, its east blue, a green strip along its north.
    brindle::FolderReport folder =
        writtenFolder("/survey/overview", brindle::IndexKind::Overview, 16);
    brindle::ReportImage& picture = folder.overviewPicture;
    picture.width = 200;
    picture.height = 100;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            const bool north = y < 10;
            picture.rgb.push_back(north ? 0 : x < 100 ? 220 : 0);
            picture.rgb.push_back(north ? 200 : 0);
            picture.rgb.push_back(north ? 0 : x < 100 ? 0 : 220);
        }
    // The run is spotless, yet the block is worth showing: the results window shows it.
    CBrindleDlg dlg;
    listOneFolder(dlg, QStringLiteral("/survey/overview"));
    brindle::ExportReport report;
    report.folders.push_back(folder);
    dlg.setExportRunner([report](const std::vector<std::filesystem::path>&,
                                 const brindle::ExportOptions&,
                                 const brindle::ExportCalls&) { return report; });
    QImage shown;
    QString caption, summary;
    ModalWatcher results(QStringLiteral("exportResults"), [&](QWidget* w) {
        auto* label = w->findChild<QLabel*>(QStringLiteral("resultsPicture"));
        auto* words = w->findChild<QLabel*>(QStringLiteral("resultsPictureCaption"));
        auto* said = w->findChild<QLabel*>(QStringLiteral("resultsSummary"));
        QVERIFY(label && words && said);
        QVERIFY(label->isVisible() && words->isVisible());
        shown = label->pixmap().toImage();
        caption = words->text();
        summary = said->text();
        w->grab().save(screenshotPath(QStringLiteral("results_overview_picture")));
        w->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
    QVERIFY(results.seen());
    QVERIFY(!shown.isNull());
    QCOMPARE(shown.width(), 2 * shown.height());
    QCOMPARE(QColor(shown.pixel(shown.width() / 4, shown.height() / 2)).red() > 180, true);
    QCOMPARE(QColor(shown.pixel(3 * shown.width() / 4, shown.height() / 2)).blue() > 180, true);
    QCOMPARE(QColor(shown.pixel(shown.width() / 2, 2)).green() > 160, true);
    QVERIFY2(caption.contains(QDir::toNativeSeparators(QStringLiteral("/survey/overview"))),
             qPrintable(caption));
    QVERIFY2(summary.contains(QStringLiteral("用时")), qPrintable(summary));

    // A folder without a picture shows none.
    CResultsDlg plain(brindle::ExportReport{{writtenFolder("/survey/plain")}, false, {}});
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    QVERIFY(!plain.findChild<QLabel*>(QStringLiteral("resultsPicture"))->isVisible());
}

QTEST_MAIN(ResultsDialogTest)
#include "results_dialog_test.moc"
