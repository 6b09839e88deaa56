#include "bench/process_memory.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace brindle::bench {
namespace fs = std::filesystem;

std::uint64_t PeakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtoull(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

namespace {

// The parent named in /proc/<pid>/stat; the command name before it is in parentheses and may
// itself hold spaces and parentheses, so the fields are read after its last ')'.
pid_t ParentOf(const fs::path& statFile) {
    std::ifstream in(statFile);
    std::string stat;
    std::getline(in, stat);
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 1));
    char state = 0;
    pid_t parent = -1;
    fields >> state >> parent;
    return fields ? parent : -1;
}

bool IsNumber(const std::string& name) {
    return !name.empty() &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::vector<pid_t> ChildProcesses(pid_t parent) {
    std::vector<pid_t> children;
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsNumber(name) && ParentOf(it->path() / "stat") == parent) {
            children.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return children;
}

ProcessTreeSampler::ProcessTreeSampler(pid_t root, std::chrono::milliseconds interval)
    : root_(root), interval_(interval), thread_([this] { poll(); }) {}

ProcessTreeSampler::~ProcessTreeSampler() {
    stop();
}

ProcessTreePeaks ProcessTreeSampler::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return peaks_;
}

void ProcessTreeSampler::sample() {
    ProcessTreePeaks seen;
    for (const pid_t child : ChildProcesses(root_)) {
        seen.childKiB = std::max(seen.childKiB, PeakResidentKiB(child));
        for (const pid_t grandchild : ChildProcesses(child)) {
            seen.grandchildKiB = std::max(seen.grandchildKiB, PeakResidentKiB(grandchild));
            seen.grandchildren.insert(grandchild);
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    peaks_.childKiB = std::max(peaks_.childKiB, seen.childKiB);
    peaks_.grandchildKiB = std::max(peaks_.grandchildKiB, seen.grandchildKiB);
    peaks_.grandchildren.insert(seen.grandchildren.begin(), seen.grandchildren.end());
    ++peaks_.samples;
}

void ProcessTreeSampler::poll() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        sample();
        lock.lock();
        wake_.wait_for(lock, interval_, [this] { return stopping_; });
    }
}

} // namespace brindle::bench
