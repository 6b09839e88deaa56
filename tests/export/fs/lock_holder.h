#pragma once

// A second process that holds a folder's lock (brindle-hold-folder-lock), as another run at
// work on the folder does; POSIX only.

#include "export/isolation/worker_process.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace brindle::test {

class LockHolder {
public:
    // Starts the holder on `folder`; `makeOverview` has it make an overview folder there
    // once it holds the lock. The first line it says is in reply().
    explicit LockHolder(const std::filesystem::path& folder, bool makeOverview = false) {
        const std::filesystem::path program =
            DefaultWorkerProgram().parent_path() / "brindle-hold-folder-lock";
        int toChild[2];
        int fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            ::close(toChild[1]);
            ::close(fromChild[0]);
            const std::string path = folder.string();
            if (makeOverview)
                ::execl(program.c_str(), program.c_str(), path.c_str(), "--make-overview",
                        static_cast<char*>(nullptr));
            else
                ::execl(program.c_str(), program.c_str(), path.c_str(),
                        static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        input_ = toChild[1];
        char c = 0;
        while (::read(fromChild[0], &c, 1) == 1 && c != '\n')
            reply_ += c;
        ::close(fromChild[0]);
    }
    ~LockHolder() { end(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    const std::string& reply() const { return reply_; }

    // Lets the holder end as a run that is done does; gives its exit status.
    int end() {
        if (input_ >= 0)
            ::close(input_);
        input_ = -1;
        return reap();
    }
    // Kills the holder, as a run may be killed at any line.
    int kill() {
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
        return end();
    }

private:
    int reap() {
        int status = -1;
        if (pid_ > 0)
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        pid_ = -1;
        return status;
    }

    pid_t pid_ = -1;
    int input_ = -1;
    std::string reply_;
};

} // namespace brindle::test
