#include "export/isolation/worker_process.h"

#include "export/fs/file_descriptor.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// Sends everything; a socket, so a worker that died raises no SIGPIPE in the run.
bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// What one read of replies may take.
constexpr std::size_t kRepliesRead = 16 * kReplySize;

} // namespace

struct WorkerProcess::Process {
    pid_t pid = -1;
    FileDescriptor channel;
    // Replies read but not yet received, from `repliesBegin` on: a worker writes a batch's
    // replies together, and one read takes as many as have come.
    std::vector<char> replies = std::vector<char>(kRepliesRead);
    std::size_t repliesBegin = 0;
    std::size_t repliesEnd = 0;
};

WorkerStartCalls SystemWorkerStartCalls() {
    WorkerStartCalls calls;
    calls.socketpair = ::socketpair;
    calls.spawn = ::posix_spawn;
    return calls;
}

WorkerProcess::WorkerProcess(fs::path program, const WorkerStartCalls& calls)
    : program_(std::move(program)), calls_(calls) {}

WorkerProcess::~WorkerProcess() {
    stop();
}

Status WorkerProcess::start() {
    if (process_)
        return {};
    int fds[2];
    if (calls_.socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return LastPosixError();
    FileDescriptor ours(fds[0]);
    FileDescriptor theirs(fds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), STDOUT_FILENO);
    // The reader's complaints about a damaged tile, and the C library's about a crash, would
    // only garble the run's own output.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The worker starts with default signal handling whatever the run has set up.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    // A group of its own: a Ctrl-C at the terminal is for the run, which cancels between
    // tiles, not for the worker in the middle of one.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETPGROUP);

    std::string programText = program_.string();
    std::array<char*, 3> argv{programText.data(), const_cast<char*>("--serve"), nullptr};
    // The worker's heap keeps the system's ordinary pages: it lives for a few files on a
    // re-run, where clearing whole large pages on each growth took a fifth of its time, and
    // on a first run large pages made it no faster.
    pid_t pid = -1;
    const int error =
        calls_.spawn(&pid, programText.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return SystemError(error);
    process_ = std::make_unique<Process>();
    process_->pid = pid;
    process_->channel.reset(ours.release());
    return {};
}

void WorkerProcess::stop() {
    if (!process_)
        return;
    // Closing the channel ends an idle worker; one stuck in a tile must be killed.
    process_->channel.reset();
    ::kill(process_->pid, SIGKILL);
    int status = 0;
    while (::waitpid(process_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    process_.reset();
}

Result<std::optional<WorkerProcess::Outcome>>
WorkerProcess::send(const std::vector<CheckRequest>& requests, std::chrono::milliseconds) {
    if (const Status started = start(); !started)
        return started.error();
    const std::string bytes = EncodeRequests(requests);
    if (!SendAll(process_->channel.get(), bytes)) {
        stop();
        return std::optional<Outcome>(Outcome::Crashed);
    }
    return std::optional<Outcome>();
}

namespace {

// Reads from the channel until `size` bytes from `repliesBegin` are in, or the deadline passes
// or the worker is gone: nothing, or what became of it.
std::optional<WorkerProcess::Outcome> FillReplies(int fd, std::vector<char>& replies,
                                                  std::size_t& begin, std::size_t& end,
                                                  std::size_t size,
                                                  std::chrono::steady_clock::time_point until) {
    if (end - begin < size) {
        // A part of a reply left over goes to the front, leaving room for the rest.
        std::memmove(replies.data(), replies.data() + begin, end - begin);
        end -= begin;
        begin = 0;
        if (replies.size() < size)
            replies.resize(size);
    }
    while (end - begin < size) {
        // What has come already is read without waiting; only an empty channel is polled.
        ssize_t n = ::recv(fd, replies.data() + end, replies.size() - end, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return WorkerProcess::Outcome::TimedOut;
            pollfd ready{fd, POLLIN, 0};
            const int polled = ::poll(
                &ready, 1, static_cast<int>(std::min<long long>(left.count(), 1000LL * 60 * 60)));
            if (polled >= 0 || errno == EINTR)
                continue;
            n = -1;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return WorkerProcess::Outcome::Crashed;
        end += static_cast<std::size_t>(n);
    }
    return std::nullopt;
}

} // namespace

WorkerProcess::Outcome WorkerProcess::receive(std::chrono::milliseconds deadline,
                                              CheckReply& reply) {
    if (!process_)
        return Outcome::Crashed;
    const int fd = process_->channel.get();
    const auto until = std::chrono::steady_clock::now() + deadline;
    Process& process = *process_;
    std::optional<Outcome> failed = FillReplies(fd, process.replies, process.repliesBegin,
                                                process.repliesEnd, kReplySize, until);
    const std::size_t size =
        kReplySize + (failed ? 0
                             : ReplyTrailerSize(std::string_view(
                                   process.replies.data() + process.repliesBegin, kReplySize)));
    if (!failed && size > kReplySize)
        failed =
            FillReplies(fd, process.replies, process.repliesBegin, process.repliesEnd, size, until);
    if (failed) {
        stop();
        return *failed;
    }
    const std::string_view bytes(process.replies.data() + process.repliesBegin, size);
    process.repliesBegin += size;
    return takeReply(bytes, reply);
}

fs::path WorkerProgramName() {
    return "brindle-tile-check";
}

fs::path DefaultWorkerProgram() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return WorkerProgramName();
    return self.parent_path() / WorkerProgramName();
}

} // namespace brindle
