#include "export/run/progress_relay.h"

#include <utility>

namespace brindle {

ProgressRelay::ProgressRelay(Callback callback) {
    if (callback) {
        told_ = std::make_shared<Told>();
        told_->callback = std::move(callback);
    }
}

ProgressRelay::Callback ProgressRelay::forListed() const {
    if (!told_)
        return {};
    return [told = told_](const ExportProgress& p) {
        const std::lock_guard<std::mutex> lock(told->mutex);
        told->listed = p;
        told->callback(p);
    };
}

ProgressRelay::Callback ProgressRelay::forBlocks() const {
    if (!told_)
        return {};
    return [told = told_](const ExportProgress& p) {
        const std::lock_guard<std::mutex> lock(told->mutex);
        ExportProgress sum = told->listed;
        sum.subfoldersDone += p.subfoldersDone;
        sum.subfolderCount += p.subfolderCount;
        sum.folder = p.folder;
        told->callback(sum);
    };
}

} // namespace brindle
