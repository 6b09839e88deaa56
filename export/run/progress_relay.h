#pragma once

#include "export/export_progress.h"

#include <functional>
#include <memory>
#include <mutex>

namespace brindle {

// Tells the run's progress callback what the pools of the run tell: the pool of the listed
// folders as it is, and the pools of the blocks exported along the way as part of it.
class ProgressRelay {
public:
    using Callback = std::function<void(const ExportProgress&)>;

    // `callback` may be empty: then the pools are told nothing to pass on.
    explicit ProgressRelay(Callback callback);

    // What the pool of the listed folders is to call with its progress.
    Callback forListed() const;
    // What the pool of a folder of blocks' blocks is to call: its counts are added to the
    // listed folders' pool's last, and its folder is the one in hand.
    Callback forBlocks() const;

private:
    struct Told {
        std::mutex mutex;
        ExportProgress listed; // as the listed folders' pool last told it
        Callback callback;
    };
    std::shared_ptr<Told> told_;
};

} // namespace brindle
