#pragma once

#include "export/export_run.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QThread;

namespace brindle::ui {

// What a run leaves behind: its report, or, when it threw, why in the user's words (and an
// empty report).
struct ExportOutcome {
    ExportReport report;
    std::optional<QString> failure;
    // From the start of the run to its end, the time the user waited for an answer included.
    std::chrono::milliseconds took{0};
};

// One export run on a thread of its own, so that the dialogs stay responsive however long the
// tiles take. It lives on the thread that made it and emits every signal there, in the order
// the run got that far: progress steps and questions, then finished, once.
class ExportJob : public QObject {
    Q_OBJECT
public:
    // Runs the export; replaceable so tests can watch or pace a run.
    using Runner = std::function<ExportReport(const std::vector<std::filesystem::path>&,
                                              const ExportOptions&, const ExportCalls&)>;

    // The run writes `folders` under `options`; its calls (cancel, progress and
    // confirmReplace) are the job's own.
    ExportJob(std::vector<std::filesystem::path> folders, ExportOptions options,
              Runner runner = ExportFolderIndexes, QObject* parent = nullptr);
    // Cancels a run still going, keeps the file a question waits about, and waits for the run
    // to stop (it does between tiles).
    ~ExportJob() override;
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    // Starts the run; once only.
    void start();
    bool isFinished() const { return m_finished; }
    // Turns the event loop, user input aside, until finished has been emitted.
    void waitForFinished();
    // What finished carried; empty before it and after the first call.
    ExportOutcome takeOutcome() { return std::move(m_outcome); }

public slots:
    // The answer to the question in hand: whether to replace the file it is about. Nothing
    // is replaced once the run is being cancelled.
    void answer(bool replace);
    // The run stops between tiles and writes nothing more; a question waiting is answered
    // "keep", and none is asked any more.
    void cancel();

signals:
    void progress(const brindle::ExportProgress& step);
    // The run waits until answer() is called. Nobody listening counts as "keep the file".
    void question(const brindle::Problem& why);
    void finished(const brindle::ui::ExportOutcome& outcome);

private:
    void run();
    bool askAndWait(const Problem& why);
    void pose(const Problem& why);
    void finish();

    const std::vector<std::filesystem::path> m_folders;
    ExportOptions m_options;
    ExportCalls m_calls;
    const Runner m_runner;
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_cancel{false};
    // What crosses between the run's thread and this object's, under m_handOverMutex rather
    // than through Qt's event queue alone, so that thread checkers see every hand-over. The
    // run's thread waits on the future of the promise in hand for the answer to a question.
    std::mutex m_handOverMutex;
    std::optional<std::promise<bool>> m_pendingAnswer;
    // Set by the run's thread just before it posts finish().
    ExportOutcome m_outcome;
    bool m_finished = false;
};

} // namespace brindle::ui
