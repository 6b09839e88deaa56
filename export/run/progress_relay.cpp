#include "export/run/progress_relay.h"

#include <utility>

namespace brindle {

ProgressRelay::ProgressRelay(Callback callback,
                             std::chrono::steady_clock::duration tilesetInterval) {
    if (callback) {
        told_ = std::make_shared<Told>();
        told_->callback = std::move(callback);
        told_->tilesetInterval = tilesetInterval;
    }
}

ProgressRelay::Callback ProgressRelay::forListed() const {
    if (!told_)
        return {};
    return [told = told_](const ExportProgress& p) {
        const std::lock_guard<std::mutex> lock(told->mutex);
        told->listed = p;
        ExportProgress shown = p;
        shown.tileset = told->tileset;
        told->callback(shown);
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
        sum.tileset = told->tileset;
        told->callback(sum);
    };
}

ProgressRelay::TilesetCallback ProgressRelay::forTilesets() const {
    if (!told_)
        return {};
    return [told = told_](const TilesetProgress& p) {
        const std::lock_guard<std::mutex> lock(told->mutex);
        const auto now = std::chrono::steady_clock::now();
        // A stage's first report, and a block's, says at once what is being made.
        const bool first = !told->tileset || told->tileset->folder != p.folder;
        told->tileset = p;
        if (!first && !p.ended && now - told->tilesetTold < told->tilesetInterval)
            return;
        told->tilesetTold = now;
        ExportProgress shown = told->listed;
        shown.tileset = p;
        if (p.ended)
            told->tileset.reset();
        told->callback(shown);
    };
}

} // namespace brindle
