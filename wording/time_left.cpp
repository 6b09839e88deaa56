#include "wording/time_left.h"

#include "wording/text.h"
#include "wording/tileset_progress.h"

#include <algorithm>

namespace brindle {

std::optional<std::chrono::seconds> TimeLeftEstimate::at(const ExportProgress& progress,
                                                         ProgressClock::time_point now) const {
    if (progress.subfoldersDone == 0 || progress.subfoldersDone >= progress.subfolderCount)
        return std::nullopt;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const auto left = static_cast<double>(progress.subfolderCount - progress.subfoldersDone);
    const double seconds = elapsed * left / static_cast<double>(progress.subfoldersDone);
    return std::chrono::seconds(static_cast<long long>(seconds + 0.5));
}

} // namespace brindle

namespace brindle::wording {

std::string DescribeTimeLeft(Language language, std::chrono::seconds left) {
    const long long s = left.count();
    const auto n = [](long long value) { return std::to_string(value); };
    if (language == Language::Chinese) {
        std::string text = "预计还需约 ";
        if (s < 60)
            text += n(s) + " 秒";
        else if (s < 600)
            text += n(s / 60) + " 分 " + n(s % 60) + " 秒";
        else if (s < 3600)
            text += n((s + 30) / 60) + " 分钟";
        else
            text += n(s / 3600) + " 小时 " + n(s % 3600 / 60) + " 分钟";
        return text;
    }
    std::string text = "about ";
    if (s < 60)
        text += n(s) + " s";
    else if (s < 600)
        text += n(s / 60) + " min " + n(s % 60) + " s";
    else if (s < 3600)
        text += n((s + 30) / 60) + " min";
    else
        text += n(s / 3600) + " h " + n(s % 3600 / 60) + " min";
    return text + " left";
}

std::string ProgressText(const ExportProgress& progress,
                         const std::optional<std::chrono::seconds>& left) {
    // The folder in hand counts from 1; once all are written the last one stays named.
    const std::size_t inHand = std::min(progress.foldersDone + 1, progress.folderCount);
    std::string text = Fill("目录 %1/%2：%3\n已验证子目录 %4/%5",
                            {std::to_string(inHand), std::to_string(progress.folderCount),
                             PathText(progress.folder), std::to_string(progress.subfoldersDone),
                             std::to_string(progress.subfolderCount)});
    if (left)
        text += "，" + DescribeTimeLeft(Language::Chinese, *left);
    if (progress.tileset)
        text += "\n" + TilesetProgressText(Language::Chinese, *progress.tileset);
    return text;
}

} // namespace brindle::wording
