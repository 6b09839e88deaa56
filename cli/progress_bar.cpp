#include "cli/progress_bar.h"

#include <string>

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
} // namespace

bool ProgressBar::IsTerminal(std::FILE* stream) {
    return BRINDLE_ISATTY(BRINDLE_FILENO(stream)) != 0;
}

void ProgressBar::update(const ExportProgress& progress) {
    const auto now = std::chrono::steady_clock::now();
    const bool last = progress.subfoldersDone == progress.subfolderCount;
    if (drawn_ && !last && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    drawn_ = true;
    const double fraction = progress.subfolderCount
                                ? double(progress.subfoldersDone) / double(progress.subfolderCount)
                                : 1.0;
    const int filled = static_cast<int>(fraction * kBarWidth);
    const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '.');
    std::fprintf(terminal_, "\r\033[Kfolder %zu/%zu [%s] %zu/%zu tiles  %s",
                 progress.foldersDone + (progress.foldersDone < progress.folderCount ? 1 : 0),
                 progress.folderCount, bar.c_str(), progress.subfoldersDone,
                 progress.subfolderCount, progress.folder.filename().string().c_str());
    std::fflush(terminal_);
}

ProgressBar::~ProgressBar() {
    if (drawn_) {
        std::fprintf(terminal_, "\r\033[K");
        std::fflush(terminal_);
    }
}

} // namespace brindle
