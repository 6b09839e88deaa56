#include "cli/interrupt.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <csignal>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace brindle {
namespace {

// A signal handler can reach nothing but static storage, so the flags live here; lock-free
// atomics are all that a handler may safely touch.
std::atomic<bool> gCancel{false};
std::atomic<int> gSignal{0};
std::atomic<bool> gInstalled{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
// The line the first signal writes, in the user's language; set before the handlers are
// installed, and only read by them.
char gStopping[512];
std::size_t gStoppingLength = 0;

#ifdef _WIN32

void OnSignal(int signal) {
    int expected = 0;
    gSignal.compare_exchange_strong(expected, signal);
    gCancel.store(true);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void Install() {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
}

void Restore() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

#else

void SetDefault(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

void OnSignal(int signal) {
    int expected = 0;
    gSignal.compare_exchange_strong(expected, signal);
    gCancel.store(true);
    // SA_RESETHAND restored the default for this signal; the other one follows, so that
    // any second signal ends the process.
    SetDefault(signal == SIGINT ? SIGTERM : SIGINT);
    const int savedErrno = errno;
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, gStopping, gStoppingLength);
    errno = savedErrno;
}

void Install() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    // Restart interrupted writes: the report line in hand is still printed in full.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void Restore() {
    SetDefault(SIGINT);
    SetDefault(SIGTERM);
}

#endif

} // namespace

InterruptHandler::InterruptHandler(const std::string& stoppingLine) {
    [[maybe_unused]] const bool wasInstalled = gInstalled.exchange(true);
    assert(!wasInstalled);
    gStoppingLength = std::min(stoppingLine.size(), sizeof gStopping - 1);
    std::copy_n(stoppingLine.data(), gStoppingLength, gStopping);
    gCancel.store(false);
    gSignal.store(0);
    Install();
}

InterruptHandler::~InterruptHandler() {
    Restore();
    gInstalled.store(false);
}

const std::atomic<bool>& InterruptHandler::cancelFlag() const {
    return gCancel;
}

void InterruptHandler::requestStop() {
    gCancel.store(true);
}

int InterruptHandler::signal() const {
    return gSignal.load();
}

} // namespace brindle
