// The export job on its own, over real sample blocks: what it signals, in which order and on
// which thread, how its question is answered, and how a cancel ends it.

#include "export_job.h"

#include "export/export_run.h"
#include "tools/sample_block.h"

#include <osg/Node>
#include <osgDB/ReadFile>

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

brindle::SampleBlock writeBlock(const fs::path& folder, int tiles) {
    brindle::SampleBlockOptions options;
    options.tileCount = tiles;
    options.minTexturePx = options.maxTexturePx = 16;
    options.minGridCells = options.maxGridCells = 4;
    return brindle::WriteSampleBlock(folder, options);
}

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A block whose root.osgb is scene data, as when a tile was copied up by mistake: the run asks
// before it replaces that. Returns the file's bytes.
std::string putSceneAsIndex(const brindle::SampleBlock& block) {
    const fs::path tile = block.folder / block.validTiles.front() / "root.osgb";
    fs::copy_file(tile, block.folder / "root.osgb");
    return bytesOf(tile);
}

fs::path tempPath(const QTemporaryDir& temp, const char* name) {
    return fs::path(temp.path().toStdString()) / name;
}

bool onAppThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Notes every signal of the job as it comes, and whether it came on the application's thread.
struct SignalLog {
    explicit SignalLog(brindle::ui::ExportJob& job) {
        QObject::connect(&job, &brindle::ui::ExportJob::progress,
                         [this](const brindle::ExportProgress& step) {
                             note(QStringLiteral("progress"));
                             steps.push_back(step);
                         });
        QObject::connect(&job, &brindle::ui::ExportJob::question,
                         [this](const brindle::Problem& why) {
                             note(QStringLiteral("question"));
                             asked.push_back(why);
                         });
        QObject::connect(
            &job, &brindle::ui::ExportJob::finished,
            [this](const brindle::ui::ExportOutcome&) { note(QStringLiteral("finished")); });
    }

    void note(const QString& what) {
        order << what;
        allOnAppThread = allOnAppThread && onAppThread();
    }

    // The order with repeats of one signal folded into one.
    QStringList runs() const {
        QStringList folded;
        for (const QString& what : order)
            if (folded.isEmpty() || folded.back() != what)
                folded << what;
        return folded;
    }

    QStringList order;
    std::vector<brindle::ExportProgress> steps;
    std::vector<brindle::Problem> asked;
    bool allOnAppThread = true;
};

// The real export, noting the thread it ran on.
brindle::ui::ExportJob::Runner realRunner(QThread** ranOn) {
    return [ranOn](const std::vector<fs::path>& folders, const brindle::ExportOptions& options,
                   const brindle::ExportCalls& calls) {
        *ranOn = QThread::currentThread();
        return brindle::ExportFolderIndexes(folders, options, calls);
    };
}

} // namespace

class ExportJobTest : public QObject {
    Q_OBJECT
private slots:
    void signalsComeInOrderOnTheAppThread();
    void questionIsAnsweredThroughTheSlot();
    void cancelEndsTheRun();
    void nobodyIsAskedOnceCancelled();
    void aJobGoneWhileAskingKeepsTheFile();
};

void ExportJobTest::signalsComeInOrderOnTheAppThread() {
    QTemporaryDir temp;
    const brindle::SampleBlock block = writeBlock(tempPath(temp, "测区 一"), 6);
    QThread* ranOn = nullptr;
    brindle::ui::ExportJob job({block.folder}, {}, realRunner(&ranOn));
    SignalLog log(job);
    QVERIFY(!job.isFinished());
    job.start();
    job.waitForFinished();

    QVERIFY(job.isFinished());
    // Steps as the run gets on, then finished once, last; all where the job lives, while the
    // run had a thread of its own.
    QCOMPARE(log.runs(), (QStringList{QStringLiteral("progress"), QStringLiteral("finished")}));
    QVERIFY(log.allOnAppThread);
    QVERIFY(ranOn && ranOn != QCoreApplication::instance()->thread());
    for (std::size_t i = 1; i < log.steps.size(); ++i)
        QVERIFY(log.steps[i].subfoldersDone + log.steps[i].foldersDone >=
                log.steps[i - 1].subfoldersDone + log.steps[i - 1].foldersDone);
    const brindle::ExportProgress& last = log.steps.back();
    QCOMPARE(last.subfoldersDone, last.subfolderCount);
    QCOMPARE(last.foldersDone, std::size_t{1});

    const brindle::ui::ExportOutcome outcome = job.takeOutcome();
    QVERIFY(!outcome.failure);
    QCOMPARE(outcome.report.folders.size(), std::size_t{1});
    const brindle::FolderReport& folder = outcome.report.folders.front();
    QVERIFY(folder.status == brindle::FolderStatus::Written);
    QCOMPARE(folder.entries.size(), block.validTiles.size());
    QCOMPARE(folder.leftOut.size(), block.invalidTiles.size());
    QVERIFY(osgDB::readNodeFile((block.folder / "root.osgb").string()));
}

void ExportJobTest::questionIsAnsweredThroughTheSlot() {
    // No keeps the old file; yes replaces it; nobody to ask keeps it.
    enum class Answer { No, Yes, NobodyAsked };
    for (const Answer given : {Answer::No, Answer::Yes, Answer::NobodyAsked}) {
        QTemporaryDir temp;
        const brindle::SampleBlock block = writeBlock(tempPath(temp, "block"), 4);
        const std::string scene = putSceneAsIndex(block);
        QThread* ranOn = nullptr;
        brindle::ui::ExportJob job({block.folder}, {}, realRunner(&ranOn));
        std::unique_ptr<SignalLog> log;
        bool finishedBeforeAnswer = false;
        if (given != Answer::NobodyAsked) {
            log = std::make_unique<SignalLog>(job);
            // Answered later, from the event loop: the run waits for it.
            connect(&job, &brindle::ui::ExportJob::question, &job, [&] {
                QTimer::singleShot(50, &job, [&] {
                    finishedBeforeAnswer = job.isFinished();
                    job.answer(given == Answer::Yes);
                });
            });
        }
        job.start();
        job.waitForFinished();
        const brindle::ui::ExportOutcome outcome = job.takeOutcome();
        QVERIFY(!outcome.failure);
        const brindle::FolderReport& folder = outcome.report.folders.at(0);

        if (log) {
            QCOMPARE(log->runs().back(), QStringLiteral("finished"));
            QCOMPARE(log->order.count(QStringLiteral("question")), 1);
            QVERIFY(log->order.indexOf(QStringLiteral("question")) <
                    log->order.indexOf(QStringLiteral("finished")));
            QVERIFY(log->allOnAppThread);
            QVERIFY(log->asked.at(0).kind == brindle::ProblemKind::ExistingHoldsScene);
            QVERIFY(log->asked.at(0).path == block.folder / "root.osgb");
            QVERIFY(!finishedBeforeAnswer);
        }
        if (given == Answer::Yes) {
            QVERIFY(folder.status == brindle::FolderStatus::Written);
            QVERIFY(bytesOf(block.folder / "root.osgb") != scene);
            QCOMPARE(folder.entries.size(), block.validTiles.size());
        } else {
            QVERIFY(folder.status == brindle::FolderStatus::Failed);
            QVERIFY(folder.error && folder.error->kind == brindle::ProblemKind::ExistingHoldsScene);
            QVERIFY(bytesOf(block.folder / "root.osgb") == scene);
        }
    }
}

void ExportJobTest::cancelEndsTheRun() {
    // Two blocks that would both ask; the first question is met with a cancel instead of an
    // answer. Nothing is replaced, nobody is asked again, the second block is not written.
    QTemporaryDir temp;
    const brindle::SampleBlock first = writeBlock(tempPath(temp, "first"), 4);
    const brindle::SampleBlock second = writeBlock(tempPath(temp, "second"), 4);
    const std::string firstScene = putSceneAsIndex(first);
    const std::string secondScene = putSceneAsIndex(second);
    QThread* ranOn = nullptr;
    brindle::ui::ExportJob job({first.folder, second.folder}, {}, realRunner(&ranOn));
    SignalLog log(job);
    connect(&job, &brindle::ui::ExportJob::question, &job,
            [&job] { QTimer::singleShot(0, &job, &brindle::ui::ExportJob::cancel); });
    job.start();
    job.waitForFinished();

    QCOMPARE(log.order.count(QStringLiteral("question")), 1);
    QCOMPARE(log.order.back(), QStringLiteral("finished"));
    const brindle::ui::ExportOutcome outcome = job.takeOutcome();
    QVERIFY(!outcome.failure);
    QVERIFY(outcome.report.cancelled);
    QVERIFY(!outcome.report.succeeded());
    QCOMPARE(outcome.report.folders.size(), std::size_t{2});
    QVERIFY(outcome.report.folders[1].status == brindle::FolderStatus::Cancelled);
    QVERIFY(bytesOf(first.folder / "root.osgb") == firstScene);
    QVERIFY(bytesOf(second.folder / "root.osgb") == secondScene);
    // An answer after the cancel changes nothing.
    job.answer(true);
    QVERIFY(bytesOf(first.folder / "root.osgb") == firstScene);
}

void ExportJobTest::nobodyIsAskedOnceCancelled() {
    // A run winding down may still ask; it is told to keep the file without anyone asked,
    // however willing to replace. It waits on the cancel, not on the clock.
    bool replacedAfterCancel = true;
    brindle::ui::ExportJob job(
        {fs::path("/survey/a")}, {},
        [&](const std::vector<fs::path>& folders, const brindle::ExportOptions&,
            const brindle::ExportCalls& calls) {
            calls.progress({0, folders.size(), 0, 8, folders.front(), {}});
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!calls.cancel->load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            replacedAfterCancel = calls.confirmReplace(
                {brindle::ProblemKind::ExistingHoldsScene, folders.front() / "root.osgb", {}});
            brindle::ExportReport report;
            report.cancelled = calls.cancel->load();
            return report;
        });
    SignalLog log(job);
    connect(&job, &brindle::ui::ExportJob::progress, &job, &brindle::ui::ExportJob::cancel);
    connect(&job, &brindle::ui::ExportJob::question, &job, [&job] { job.answer(true); });
    job.start();
    job.waitForFinished();
    QCOMPARE(log.order, (QStringList{QStringLiteral("progress"), QStringLiteral("finished")}));
    QVERIFY(!replacedAfterCancel);
    QVERIFY(job.takeOutcome().report.cancelled);
}

void ExportJobTest::aJobGoneWhileAskingKeepsTheFile() {
    // The dialog closed while the question waits: the job's end cancels the run, answers
    // "keep" and waits for the run's thread, rather than leaving it waiting for ever.
    QTemporaryDir temp;
    const brindle::SampleBlock block = writeBlock(tempPath(temp, "block"), 4);
    const std::string scene = putSceneAsIndex(block);
    bool runReturned = false;
    auto job = std::make_unique<brindle::ui::ExportJob>(
        std::vector<fs::path>{block.folder}, brindle::ExportOptions{},
        [&runReturned](const std::vector<fs::path>& folders, const brindle::ExportOptions& options,
                       const brindle::ExportCalls& calls) {
            brindle::ExportReport report = brindle::ExportFolderIndexes(folders, options, calls);
            runReturned = true;
            return report;
        });
    bool asked = false;
    connect(job.get(), &brindle::ui::ExportJob::question, this, [&asked] { asked = true; });
    job->start();
    QTRY_VERIFY_WITH_TIMEOUT(asked, 20000);
    job.reset();
    QVERIFY(runReturned);
    QVERIFY(bytesOf(block.folder / "root.osgb") == scene);
}

QTEST_GUILESS_MAIN(ExportJobTest)
#include "export_job_test.moc"
