#include "bench/timings.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

namespace brindle::bench {

std::string Fixed(double value, int digits) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(digits) << value;
    return out.str();
}

double Timings::best() const {
    return *std::min_element(seconds_.begin(), seconds_.end());
}

double Timings::worst() const {
    return *std::max_element(seconds_.begin(), seconds_.end());
}

double Timings::leastCpu() const {
    return *std::min_element(cpuSeconds_.begin(), cpuSeconds_.end());
}

std::string Timings::describe() const {
    std::string text = Fixed(best(), 3) + " s (best of " + std::to_string(seconds_.size()) +
                       "; runs " + Fixed(best(), 3) + " to " + Fixed(worst(), 3) + " s";
    if (!cpuSeconds_.empty()) {
        text += "; CPU " + Fixed(leastCpu(), 3) + " s at least";
    }
    return text + ")";
}

} // namespace brindle::bench
