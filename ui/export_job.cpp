#include "export_job.h"

#include "report_text.h"

#include <QEventLoop>
#include <QMetaMethod>
#include <QThread>

#include <exception>
#include <new>
#include <utility>

namespace brindle::ui {

ExportJob::ExportJob(std::vector<std::filesystem::path> folders, ExportOptions options,
                     Runner runner, QObject* parent)
    : QObject(parent), m_folders(std::move(folders)), m_options(std::move(options)),
      m_runner(std::move(runner)) {
    m_calls.cancel = &m_cancel;
    // The run's threads hand their steps over to this object's thread, in the order given.
    m_calls.progress = [this](const ExportProgress& step) {
        QMetaObject::invokeMethod(
            this, [this, step] { emit progress(step); }, Qt::QueuedConnection);
    };
    m_calls.confirmReplace = [this](const Problem& why) { return askAndWait(why); };
}

ExportJob::~ExportJob() {
    cancel();
    if (m_thread)
        m_thread->wait();
}

void ExportJob::start() {
    if (m_thread)
        return;
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->setObjectName(QStringLiteral("export"));
    m_thread->start();
}

void ExportJob::waitForFinished() {
    if (m_finished || !m_thread)
        return;
    // Not a wait on the thread alone: the run may still be asking its question, whose answer
    // is given on this thread.
    QEventLoop loop;
    connect(this, &ExportJob::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ExportJob::answer(bool replace) {
    const std::lock_guard<std::mutex> lock(m_handOverMutex);
    if (!m_pendingAnswer)
        return;
    m_pendingAnswer->set_value(replace && !m_cancel);
    m_pendingAnswer.reset();
}

void ExportJob::cancel() {
    m_cancel = true;
    answer(false);
}

void ExportJob::run() {
    ExportOutcome outcome;
    const auto start = std::chrono::steady_clock::now();
    // An exception must not leave this thread: that ends the program, folder list and all.
    try {
        outcome.report = m_runner(m_folders, m_options, m_calls);
    } catch (const std::bad_alloc&) {
        outcome.failure = QText(wording::RunOutOfMemory());
    } catch (const std::exception& e) {
        outcome.failure = QText(wording::RunFailedUnexpectedly(e.what()));
    } catch (...) {
        outcome.failure = QText(wording::RunFailedUnexpectedly({}));
    }
    outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    {
        const std::lock_guard<std::mutex> lock(m_handOverMutex);
        m_outcome = std::move(outcome);
    }
    QMetaObject::invokeMethod(this, &ExportJob::finish, Qt::QueuedConnection);
}

// On the run's thread: waits for the answer given on this object's thread.
bool ExportJob::askAndWait(const Problem& why) {
    std::future<bool> reply;
    {
        const std::lock_guard<std::mutex> lock(m_handOverMutex);
        if (m_cancel)
            return false;
        m_pendingAnswer.emplace();
        reply = m_pendingAnswer->get_future();
    }
    QMetaObject::invokeMethod(
        this, [this, why] { pose(why); }, Qt::QueuedConnection);
    return reply.get();
}

void ExportJob::pose(const Problem& why) {
    // Once the run is being cancelled nobody is asked, and the file is kept.
    if (m_cancel || !isSignalConnected(QMetaMethod::fromSignal(&ExportJob::question))) {
        answer(false);
        return;
    }
    emit question(why);
}

void ExportJob::finish() {
    {
        // The outcome is the run's no longer; taking the mutex tells thread checkers so.
        const std::lock_guard<std::mutex> lock(m_handOverMutex);
    }
    m_finished = true;
    emit finished(m_outcome);
}

} // namespace brindle::ui
