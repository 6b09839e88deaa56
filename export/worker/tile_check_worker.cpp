#include "export/worker/tile_check_worker.h"

#include "export/protocol/tile_check_protocol.h"
#include "export/system/heap_reuse.h"
#include "export/worker/process_limits.h"
#include "export/worker/tile_validation.h"

#include <osg/Notify>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#define BRINDLE_READ _read
#define BRINDLE_WRITE _write
#define BRINDLE_DUP _dup
#define BRINDLE_DUP2 _dup2
#define BRINDLE_OPEN _open
#define BRINDLE_NULL_DEVICE "NUL"
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#define BRINDLE_READ ::read
#define BRINDLE_WRITE ::write
#define BRINDLE_DUP ::dup
#define BRINDLE_DUP2 ::dup2
#define BRINDLE_OPEN ::open
#define BRINDLE_NULL_DEVICE "/dev/null"
#endif

namespace brindle {
namespace {

// Replies held to be written together with later ones.
struct HeldReplies {
    std::vector<char> bytes; // room for kMostHeld replies, reserved before any check
    std::size_t count = 0;
};

constexpr std::size_t kMostHeld = 64;

// Where replies go, the replies held, and the reply for a check that ran out of memory,
// encoded beforehand: the new-handler below can allocate nothing and has no other way to
// reach them. This is a worker process of its own, which serves one request at a time.
int g_replyChannel = -1;
const HeldReplies* g_held = nullptr;
char g_outOfMemoryReply[kReplySize];
std::size_t g_failedAllocation = 0;
// While a tile that loads is summarised: its verdict, should the summary crash the worker.
char g_crashReply[kReplySize];

// Repeats a write until `size` bytes are moved; false on an error.
template <typename Transfer, typename Bytes>
bool TransferAll(Transfer transfer, int fd, Bytes* bytes, std::size_t size) {
    while (size > 0) {
        const auto n = transfer(fd, bytes, static_cast<unsigned>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const char* bytes, std::size_t size) {
    return TransferAll(BRINDLE_WRITE, fd, bytes, size);
}

// The memory ceiling was reached. Whatever the reader would do with the failure (catch it and
// go on with garbage, or crash), the verdict is known now, so it is sent and the worker ends.
// The replies held for earlier checks go first, so that each still answers its own request.
[[noreturn]] void AnswerOutOfMemory() {
    if (g_held && g_held->count > 0)
        WriteAll(g_replyChannel, g_held->bytes.data(), g_held->count * kReplySize);
    SetFailedAllocation(g_outOfMemoryReply, g_failedAllocation);
    WriteAll(g_replyChannel, g_outOfMemoryReply, kReplySize);
    std::_Exit(0);
}

// The summary crashed: the tile's verdict is known all the same, so it is sent, saying so,
// and the worker ends, as it would have died.
[[noreturn]] void AnswerSummaryCrash() {
    if (g_held && g_held->count > 0)
        WriteAll(g_replyChannel, g_held->bytes.data(), g_held->count * kReplySize);
    WriteAll(g_replyChannel, g_crashReply, kReplySize);
    std::_Exit(0);
}

#ifdef _WIN32
LONG WINAPI AnswerSummaryException(EXCEPTION_POINTERS*) {
    AnswerSummaryCrash();
}
#else
void AnswerSummarySignal(int) {
    AnswerSummaryCrash();
}
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
#endif

// Answers with the tile's verdict, instead of only a crash or an exhausted heap, should its
// summary fail so, for as long as it lives.
class SummaryGuard {
public:
    explicit SummaryGuard(const CheckReply& verdict) {
        CheckReply reply = verdict;
        reply.retiring = true;
        reply.summaryState = SummaryState::OutOfMemory;
        EncodeReply(reply).copy(g_outOfMemoryReply, kReplySize);
        reply.summaryState = SummaryState::Crashed;
        EncodeReply(reply).copy(g_crashReply, kReplySize);
#ifdef _WIN32
        previous_ = SetUnhandledExceptionFilter(AnswerSummaryException);
#else
        struct sigaction action {};
        action.sa_handler = AnswerSummarySignal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kCrashSignals); ++i)
            sigaction(kCrashSignals[i], &action, &previous_[i]);
#endif
    }
    ~SummaryGuard();
    SummaryGuard(const SummaryGuard&) = delete;
    SummaryGuard& operator=(const SummaryGuard&) = delete;

private:
#ifdef _WIN32
    LPTOP_LEVEL_EXCEPTION_FILTER previous_;
#else
    struct sigaction previous_[std::size(kCrashSignals)];
#endif
};

void PrepareOutOfMemoryReply() {
    CheckReply reply;
    reply.verdict = CheckVerdict::OutOfMemory;
    reply.retiring = true;
    EncodeReply(reply).copy(g_outOfMemoryReply, kReplySize);
}

SummaryGuard::~SummaryGuard() {
#ifdef _WIN32
    SetUnhandledExceptionFilter(previous_);
#else
    for (std::size_t i = 0; i < std::size(kCrashSignals); ++i)
        sigaction(kCrashSignals[i], &previous_[i], nullptr);
#endif
    PrepareOutOfMemoryReply();
}

SceneSummary SummariseWhole(const osg::Node& scene, const CheckRequest&) {
    return SummariseScene(scene);
}

SummaryState StateOf(const SceneSummary& made) {
    if (made.summary)
        return SummaryState::Made;
    return made.reason == NoSummaryReason::Capped ? SummaryState::TooLarge
                                                  : SummaryState::NoSurface;
}

// Adds the summary of a tile that loads to its reply.
void Summarise(const osg::Node& scene, const CheckRequest& request, SummariseTile summarise,
               CheckReply& reply) {
    const SummaryGuard guard(reply);
    SceneSummary made = summarise(scene, request);
    reply.summaryState = StateOf(made);
    if (made.summary)
        reply.summary = std::make_shared<const TileSummary>(std::move(*made.summary));
}

// True when the channel has bytes to read now.
bool InputWaiting(int fd) {
#ifdef _WIN32
    DWORD available = 0;
    const HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0;
#else
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
#endif
}

// Reads requests through a buffer, so that the requests the run sends at once cost one read,
// and so that the worker can tell whether another request is waiting.
class RequestReader {
public:
    explicit RequestReader(int fd)
        : fd_(fd), buffer_(2 * (kRequestLengthSize + kMaxRequestLength)) {}

    std::optional<CheckRequest> next() {
        if (!fill(kRequestLengthSize))
            return std::nullopt;
        const std::optional<std::size_t> length =
            DecodeRequestLength(std::string_view(buffer_.data() + begin_, kRequestLengthSize));
        if (!length || !fill(kRequestLengthSize + *length))
            return std::nullopt;
        const std::string_view body(buffer_.data() + begin_ + kRequestLengthSize, *length);
        begin_ += kRequestLengthSize + *length;
        return DecodeRequestBody(body);
    }

    // True when a request, or part of one, is waiting to be read.
    bool waiting() const { return end_ > begin_ || InputWaiting(fd_); }

private:
    // Reads until `size` bytes from `begin_` are in the buffer.
    bool fill(std::size_t size) {
        if (end_ - begin_ >= size)
            return true;
        if (begin_ + size > buffer_.size()) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        while (end_ - begin_ < size) {
            const auto n = BRINDLE_READ(fd_, buffer_.data() + end_,
                                        static_cast<unsigned>(buffer_.size() - end_));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            end_ += static_cast<std::size_t>(n);
        }
        return true;
    }

    int fd_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Replies go to a copy of standard output; the original then points nowhere, so nothing the
// libraries print can mix with them.
int TakeReplyChannel() {
#ifdef _WIN32
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
#endif
    const int channel = BRINDLE_DUP(1);
    const int nowhere = BRINDLE_OPEN(BRINDLE_NULL_DEVICE, O_WRONLY);
    if (nowhere >= 0)
        BRINDLE_DUP2(nowhere, 1);
    return channel;
}

} // namespace

void NoteFailedAllocation(std::size_t bytes) noexcept {
    g_failedAllocation = bytes;
}

int ServeTileChecks(SummariseTile summarise, MakeContent makeContent) {
    if (!summarise)
        summarise = SummariseWhole;
    EndWithParent();
    g_replyChannel = TakeReplyChannel();
    if (g_replyChannel < 0)
        return 1;
    // The reader's warnings are kept, not printed: the last one says why a tile failed.
    const osg::ref_ptr<ReaderMessages> messages = new ReaderMessages;
    osg::setNotifyHandler(messages.get());
    osg::setNotifyLevel(osg::WARN);
    KeepFreedMemoryForReuse();

    // Allocated before the limits take their measure of the process, and never grown.
    HeldReplies held;
    held.bytes.resize(kMostHeld * kReplySize);
    g_held = &held;
    RequestReader requests(0);
    const TileValidator validator(messages.get());
    FileConverter converter(validator, makeContent);
    ProcessLimits limits;
    PrepareOutOfMemoryReply();
    std::set_new_handler(AnswerOutOfMemory);
    using Clock = std::chrono::steady_clock;
    Clock::time_point heldSince;
    while (const std::optional<CheckRequest> request = requests.next()) {
        limits.limitNextCheck(request->memoryCeiling, request->cpuSeconds);
        CheckReply reply;
        if (request->kind == CheckKind::Content) {
            reply = converter.convert(*request);
        } else {
            osg::ref_ptr<osg::Node> scene;
            reply = validator.check(*request, request->wantSummary ? &scene : nullptr);
            if (scene && reply.verdict == CheckVerdict::Loads)
                Summarise(*scene, *request, summarise, reply);
        }
        reply.retiring = !limits.endCheck();
        const std::string encoded = EncodeReply(reply);
        // A reply with a trailer is too large to hold: it goes now, after those held.
        const bool large = encoded.size() > kReplySize;
        if (!large)
            encoded.copy(held.bytes.data() + held.count * kReplySize, kReplySize);
        const Clock::time_point now = Clock::now();
        if (!large && ++held.count == 1)
            heldSince = now;
        // The replies of a batch go out together, so the run wakes once for them, unless
        // holding them would keep the run waiting long.
        if (!large && !reply.retiring && held.count < kMostHeld && requests.waiting() &&
            now - heldSince < kMostReplyHold)
            continue;
        bool written = WriteAll(g_replyChannel, held.bytes.data(), held.count * kReplySize);
        held.count = 0;
        if (large)
            written = written && WriteAll(g_replyChannel, encoded.data(), encoded.size());
        if (!written || reply.retiring)
            return 0;
    }
    return 0;
}

} // namespace brindle
