#pragma once

#include "export/export_progress.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace brindle {

// Tells the run's progress callback what the pools of the run tell: the pool of the listed
// folders as it is, and the pools of the blocks exported along the way as part of it; and,
// alongside, what the tileset stage of the folder in hand has done.
class ProgressRelay {
public:
    using Callback = std::function<void(const ExportProgress&)>;
    using TilesetCallback = std::function<void(const TilesetProgress&)>;

    // A conversion may take a millisecond, a reused file far less: the stage tells at most
    // this often, which a progress bar redrawn as often shows as smoothly.
    static constexpr std::chrono::milliseconds kTilesetInterval{100};

    // `callback` may be empty: then the pools are told nothing to pass on.
    explicit ProgressRelay(Callback callback,
                           std::chrono::steady_clock::duration tilesetInterval = kTilesetInterval);

    // What the pool of the listed folders is to call with its progress.
    Callback forListed() const;
    // What the pool of a folder of blocks' blocks is to call: its counts are added to the
    // listed folders' pool's last, and its folder is the one in hand.
    Callback forBlocks() const;
    // What the tileset stage is to call as it goes: told with the pools' last, at most once an
    // interval but for a folder's first and last (`ended`) reports and a block's first; what
    // is not told yet goes with the pools' next. Once a folder's stage has ended, the pools'
    // are told alone again.
    TilesetCallback forTilesets() const;

private:
    struct Told {
        std::mutex mutex;
        ExportProgress listed;                  // as the listed folders' pool last told it
        std::optional<TilesetProgress> tileset; // the stage in hand's latest
        std::chrono::steady_clock::time_point tilesetTold{};
        std::chrono::steady_clock::duration tilesetInterval{};
        Callback callback;
    };
    std::shared_ptr<Told> told_;
};

} // namespace brindle
