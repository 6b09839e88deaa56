#pragma once

#include <string>
#include <vector>

namespace brindle::bench {

// `value` with `digits` digits after the point.
std::string Fixed(double value, int digits);

// The times of repeated runs of one thing; the best counts, the spread is shown. The
// processor time (user and system, over every process and thread involved) is kept too: on a
// shared machine it shows what the work costs whatever else runs meanwhile.
class Timings {
public:
    void add(double seconds) { seconds_.push_back(seconds); }
    void add(double seconds, double cpuSeconds) {
        add(seconds);
        cpuSeconds_.push_back(cpuSeconds);
    }
    // Only once something was added (leastCpu: with a processor time).
    double best() const;
    double worst() const;
    double leastCpu() const;
    // "best s (best of n; runs best to worst s; CPU least s at least)".
    std::string describe() const;

private:
    std::vector<double> seconds_;
    std::vector<double> cpuSeconds_;
};

} // namespace brindle::bench
