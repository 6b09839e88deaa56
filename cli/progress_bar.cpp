#include "cli/progress_bar.h"

#include "wording/text.h"
#include "wording/tileset_progress.h"

#include <ostream>

#ifdef _WIN32
#include <io.h>
#define BRINDLE_ISATTY(fd) _isatty(fd)
#define BRINDLE_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define BRINDLE_ISATTY(fd) isatty(fd)
#define BRINDLE_FILENO(f) fileno(f)
#endif

namespace brindle {
namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

int Percent(const ExportProgress& progress) {
    if (progress.subfolderCount == 0)
        return progress.foldersDone == progress.folderCount ? 100 : 0;
    return static_cast<int>(progress.subfoldersDone * 100 / progress.subfolderCount);
}

// The bar shows the tileset stage while there is one: the tiles are all validated by then,
// and the tiles' conversion takes longer than their check.
int BarPercent(const ExportProgress& progress) {
    const ProgressSteps steps = StepsShown(progress);
    if (!progress.tileset || steps.total == 0)
        return Percent(progress);
    return static_cast<int>(steps.done * 100 / steps.total);
}

} // namespace

std::string DescribeTimeLeft(std::chrono::seconds left) {
    return wording::DescribeTimeLeft(wording::Language::English, left);
}

std::string DescribeProgress(const ExportProgress& progress,
                             const std::optional<std::chrono::seconds>& left) {
    std::string text = std::to_string(Percent(progress)) + "% (" +
                       std::to_string(progress.subfoldersDone) + '/' +
                       std::to_string(progress.subfolderCount) + " tiles), folder " +
                       std::to_string(progress.foldersDone +
                                      (progress.foldersDone < progress.folderCount ? 1 : 0)) +
                       '/' + std::to_string(progress.folderCount) + ' ' +
                       wording::PathText(progress.folder.filename());
    if (left)
        text += ", " + DescribeTimeLeft(*left);
    if (progress.tileset)
        text += "; " + wording::TilesetProgressText(wording::Language::English, *progress.tileset);
    return text;
}

bool ProgressBar::isTerminal(std::FILE* stream) {
    return BRINDLE_ISATTY(BRINDLE_FILENO(stream)) != 0;
}

void ProgressBar::update(const ExportProgress& progress, ProgressClock::time_point now) {
    const bool last = progress.subfoldersDone == progress.subfolderCount &&
                      (!progress.tileset || progress.tileset->ended);
    if (onScreen_ && !last && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    onScreen_ = true;
    const int filled = BarPercent(progress) * kBarWidth / 100;
    terminal_ << "\r\033[K[" << std::string(filled, '#') << std::string(kBarWidth - filled, '.')
              << "] " << DescribeProgress(progress, estimate_.at(progress, now)) << std::flush;
}

void ProgressBar::clear() {
    if (!onScreen_)
        return;
    terminal_ << "\r\033[K" << std::flush;
    onScreen_ = false;
}

void ProgressLines::update(const ExportProgress& progress, ProgressClock::time_point now) {
    if (now - lastLine_ < interval_)
        return;
    lastLine_ = now;
    out_ << "brindle-export: " << DescribeProgress(progress, estimate_.at(progress, now)) << '\n'
         << std::flush;
}

} // namespace brindle
