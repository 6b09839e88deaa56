#include "export/tiles3d/file_conversion.h"

#include "export/isolation/worker_process.h"
#include "export/protocol/tile_check_protocol.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace brindle {
namespace {

// The size a file's limits are reckoned from; a file that cannot be looked at gets the
// smallest limits, and the worker tells what is wrong with it.
std::uint64_t SizeOf(const std::filesystem::path& file) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

FinerFile FinerFileOf(const FinerName& name) {
    FinerFile finer;
    finer.file = PathOfRequestText(name.path);
    finer.pixels = name.pixels;
    finer.switchAt = name.switchAt;
    for (int k = 0; k < 3; ++k)
        finer.centre[k] = name.centre[k];
    finer.radius = name.radius;
    return finer;
}

void TakeContent(const CheckReply& reply, ConvertedFile& converted) {
    const ContentReply& content = *reply.content;
    if (content.error != 0)
        converted.contentError =
            reply.cause ? reply.cause : make_error_code(ContentError(content.error));
    for (int k = 0; k < 3; ++k) {
        converted.boundsMin[k] = content.boundsMin[k];
        converted.boundsMax[k] = content.boundsMax[k];
    }
    converted.glbBytes = content.glbBytes;
    converted.triangles = content.triangles;
    for (const FinerName& name : content.finer)
        converted.finer.push_back(FinerFileOf(name));
    converted.finerLeftOut = content.finerNamed - static_cast<std::uint32_t>(content.finer.size());
}

// As a tile's check reads them: a worker that died or overran before it answered leaves the
// file out for that, with the deadline it overran; one that could not be started, with the
// start's error.
ConvertedFile Convert(WorkerProcess& worker, const ConversionJob& job,
                      const CheckSettings& settings) {
    BoundedCheck check = MakeCheck(CheckKind::Content, job.file, SizeOf(job.file), settings);
    check.request.glbPath = RequestPathText(job.glb);
    check.request.quantize = job.quantize;
    check.request.b3dm = job.b3dm;
    check.request.meshopt = job.meshopt;
    CheckReply reply;
    const Result<WorkerProcess::Outcome> exchanged =
        worker.exchange(check.request, check.deadline, reply);
    ConvertedFile converted;
    if (!exchanged) {
        converted.outcome = TileOutcome(TileStatus::LoadFailed, exchanged.error());
    } else if (*exchanged == WorkerProcess::Outcome::Crashed) {
        converted.outcome = TileOutcome(TileStatus::ReaderCrashed);
    } else if (*exchanged == WorkerProcess::Outcome::TimedOut) {
        converted.outcome = TileOutcome(TileStatus::TimedOut, {},
                                        static_cast<std::uint64_t>(check.deadline.count()));
    } else {
        converted.outcome = OutcomeOfReply(reply, check.request);
        // A worker that loads a file without converting it is no worker.
        if (converted.outcome.reason == TileStatus::Valid && !reply.content)
            converted.outcome = TileOutcome(TileStatus::ReaderCrashed);
        else if (converted.outcome.reason == TileStatus::Valid)
            TakeContent(reply, converted);
    }
    return converted;
}

} // namespace

struct FileConversions::Pool {
    struct Queued {
        ConversionJob job;
        Done done;
    };

    explicit Pool(const CheckSettings& settings)
        : settings(settings), program(settings.program()) {}

    // One worker's thread: its process lives and ends here, as the process's life is tied to
    // the thread that started it.
    void serve() {
        WorkerProcess worker(program);
        // Started at once, so that its start overlaps what the walk does before its first
        // conversions (the earlier build's manifest read, the index's own conversion on another
        // worker); one that cannot start now is tried again at its first job.
        (void)worker.start();
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return !queue.empty() || ending; });
            if (queue.empty())
                return;
            Queued next = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            ConvertedFile converted;
            if (settings.cancelled())
                converted.cancelled = true;
            else
                converted = Convert(worker, next.job, settings);
            next.done(next.job, std::move(converted));
            lock.lock();
            if (--unfinished == 0)
                idle.notify_all();
        }
    }

    void add(ConversionJob job, Done done) {
        const std::lock_guard<std::mutex> lock(mutex);
        queue.push_back({std::move(job), std::move(done)});
        ++unfinished;
        wake.notify_one();
    }

    void waitIdle() {
        std::unique_lock<std::mutex> lock(mutex);
        idle.wait(lock, [&] { return unfinished == 0; });
    }

    void end() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ending = true;
        }
        wake.notify_all();
        for (std::thread& thread : threads)
            thread.join();
        threads.clear();
    }

    const CheckSettings settings;
    const std::filesystem::path program;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<Queued> queue;
    std::size_t unfinished = 0; // queued or in hand
    bool ending = false;
    std::vector<std::thread> threads;
};

Result<std::unique_ptr<FileConversions>> FileConversions::Start(const CheckSettings& settings) {
    auto pool = std::make_unique<Pool>(settings);
    try {
        for (unsigned i = 0; i < settings.workerCount(); ++i)
            pool->threads.emplace_back([p = pool.get()] { p->serve(); });
    } catch (const std::system_error& error) {
        pool->end();
        return error.code();
    }
    return std::unique_ptr<FileConversions>(new FileConversions(std::move(pool)));
}

FileConversions::FileConversions(std::unique_ptr<Pool> pool) : pool_(std::move(pool)) {}

FileConversions::~FileConversions() {
    pool_->waitIdle();
    pool_->end();
}

void FileConversions::convert(ConversionJob job, Done done) {
    pool_->add(std::move(job), std::move(done));
}

void FileConversions::wait() {
    pool_->waitIdle();
}

} // namespace brindle
