#pragma once

#include <string>

namespace brindle::test {

// Which call of a sequence fails: the calls are counted as they come, and the one numbered
// `failAt` fails; with kEveryCall, every one does. Injected calls are plain function pointers,
// so each test keeps its count in a variable of its own.
struct CallFailure {
    static constexpr int kEveryCall = -1;
    int failAt = 0;
    int seen = 0;
    std::string failed; // the name of the call that failed, once one has

    // True when this call, named `name`, is the one to fail.
    bool failsNow(const char* name) {
        if (++seen != failAt && failAt != kEveryCall)
            return false;
        failed = name;
        return true;
    }
};

// A count that fails the `n`th call (kEveryCall: every one).
template <class Failure = CallFailure> Failure FailAt(int n) {
    Failure at;
    at.failAt = n;
    return at;
}

} // namespace brindle::test
