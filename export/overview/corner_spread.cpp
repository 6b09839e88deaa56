#include "export/overview/corner_spread.h"

#include <algorithm>

namespace brindle {
namespace {

constexpr std::size_t kFewestToTrim = 64;
constexpr std::size_t kLeastTrimmed = 8;
constexpr std::size_t kTrimmedPart = 100; // one in this many on each side: 1 %
constexpr double kReach = 4;              // bulk widths beyond the bulk

struct Span {
    double low = 0, high = 0;
};

// The span of all but the outermost `trimmed` values on each side, widened by kReach of its
// own width on each side.
Span ReachOfBulk(std::vector<double> values, std::size_t trimmed) {
    const auto low = values.begin() + static_cast<std::ptrdiff_t>(trimmed);
    const auto high = values.end() - 1 - static_cast<std::ptrdiff_t>(trimmed);
    std::nth_element(values.begin(), low, values.end());
    const double bulkLow = *low;
    std::nth_element(low, high, values.end());
    const double bulkHigh = *high;
    const double width = bulkHigh - bulkLow;
    return Span{bulkLow - kReach * width, bulkHigh + kReach * width};
}

} // namespace

void CornerSpread::add(const osg::Vec3d& corner) {
    box_.expandBy(corner);
    windowKnown_ = false;
    if (seen_++ % stride_ != 0)
        return;
    if (xs_.size() == kKept) {
        for (std::size_t i = 0; 2 * i < kKept; ++i) {
            xs_[i] = xs_[2 * i];
            ys_[i] = ys_[2 * i];
        }
        xs_.resize(kKept / 2);
        ys_.resize(kKept / 2);
        stride_ *= 2;
        if ((seen_ - 1) % stride_ != 0)
            return;
    }
    xs_.push_back(corner.x());
    ys_.push_back(corner.y());
}

Extent CornerSpread::window() const {
    if (windowKnown_)
        return window_;
    window_ = ExtentOf(box_);
    windowKnown_ = true;
    if (xs_.size() < kFewestToTrim)
        return window_;
    const std::size_t trimmed = std::max(kLeastTrimmed, xs_.size() / kTrimmedPart);
    const Span x = ReachOfBulk(xs_, trimmed), y = ReachOfBulk(ys_, trimmed);
    // A bulk without width, all on one line, tells nothing of how far the rest may reach.
    if (x.high > x.low) {
        window_.minX = std::max(window_.minX, x.low);
        window_.maxX = std::min(window_.maxX, x.high);
    }
    if (y.high > y.low) {
        window_.minY = std::max(window_.minY, y.low);
        window_.maxY = std::min(window_.maxY, y.high);
    }
    return window_;
}

bool CornerSpread::holds(const osg::Vec3d& corner) const {
    const Extent w = window();
    return corner.x() >= w.minX && corner.x() <= w.maxX && corner.y() >= w.minY &&
           corner.y() <= w.maxY;
}

bool CornerSpread::strays() const {
    const Extent w = window(), all = ExtentOf(box_);
    return w.minX > all.minX || w.maxX < all.maxX || w.minY > all.minY || w.maxY < all.maxY;
}

} // namespace brindle
