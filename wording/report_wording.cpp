#include "wording/report_wording.h"

#include "wording/command_line_wording.h"
#include "wording/problem_wording.h"
#include "wording/text.h"
#include "wording/words.h"

#include <algorithm>
#include <functional>

namespace brindle::wording {
namespace {

std::string Count(std::size_t n) {
    return std::to_string(n);
}

std::string Field(const std::string& label, const std::string& text) {
    return Fill("%1：%2", {label, text});
}

// The dialogs' account.

FolderText DescribeFolder(const FolderReport& folder) {
    FolderText text;
    text.folder = PathText(folder.folder);
    text.status = DescribeStatus(folder.status);
    // A repeat's index is its first listing's; it is told apart, not marked as failed.
    text.ok = folder.status == FolderStatus::Written || folder.status == FolderStatus::DryRun ||
              folder.status == FolderStatus::ListedTwice;
    if (folder.status == FolderStatus::ListedTwice)
        text.warnings.push_back(
            Fill("与 %1 是同一目录，只在那里导出一次", {PathText(folder.firstListing)}));
    else if (text.ok) {
        text.entries = Count(folder.entries.size());
        if (folder.index == IndexKind::Paged)
            text.entries = folder.proxyLeaves.empty()
                               ? Fill("%1（分页索引）", {text.entries})
                               : Fill("%1（分页索引，其中 %2 个范围未知，打开时即加载）",
                                      {text.entries, Count(folder.proxyLeaves.size())});
        if (folder.index == IndexKind::Overview)
            text.entries = Fill("%1（总览索引）", {text.entries});
        text.translation =
            Fill("%1，%2", {DescribeTranslation(folder.translation), DescribeOrigin(folder)});
        if (!folder.srs.empty())
            text.translation = Fill("%1，坐标系 %2", {text.translation, folder.srs});
        if (folder.localFrame())
            text.translation =
                Fill("%1（%2）", {text.translation, LocalFrameNote(Language::Chinese)});
        if (!folder.srs.empty())
            text.srs = folder.localFrame()
                           ? Fill("%1（%2）", {folder.srs, LocalFrameNote(Language::Chinese)})
                           : folder.srs;
    }
    if (folder.error)
        text.error = DialogProblem(*folder.error);
    for (const Problem& warning : folder.warnings)
        text.warnings.push_back(DialogProblem(warning));
    for (const std::filesystem::path& tile : folder.recheckedTiles)
        text.warnings.push_back(
            Fill("子目录 %1 超出内存上限，已单独用更多内存重新检查", {PathText(tile)}));
    text.leftOut.reserve(folder.leftOut.size());
    for (const LeftOutSubfolder& leftOut : folder.leftOut)
        text.leftOut.push_back(
            {PathText(leftOut.name), DescribeLeftOut(Language::Chinese, leftOut)});
    text.overviewHoles.reserve(folder.overviewHoles.size());
    for (const OverviewHole& hole : folder.overviewHoles)
        text.overviewHoles.push_back(
            {PathText(hole.name), DescribeOverviewHole(Language::Chinese, hole)});
    if (!folder.master.empty())
        text.master = PathText(folder.master);
    if (folder.tileset) {
        // The command line's line, without the indent that puts it under its folder there.
        text.tileset = TilesetLine(Language::Chinese, *folder.tileset);
        text.tileset.erase(0, text.tileset.find_first_not_of(' '));
        for (const LeftOutSubfolder& file : folder.tileset->leftOut)
            text.tilesetLeftOut.push_back(
                {PathText(file.name), DescribeLeftOut(Language::Chinese, file)});
    }
    return text;
}

std::size_t OverviewHoleCount(const ExportReport& report) {
    std::size_t holes = 0;
    for (const FolderReport& folder : report.folders)
        holes += folder.overviewHoles.size();
    return holes;
}

std::string Summarize(const ExportReport& report) {
    const ReportTotals totals = report.totals();
    if (totals.folders == 0)
        return "没有列出目录。";
    std::vector<std::string> parts;
    if (totals.written > 0 || totals.dryRun == 0)
        parts.push_back(Fill("已写入 %1 个目录", {Count(totals.written)}));
    if (totals.dryRun > 0)
        parts.push_back(Fill("试运行 %1 个目录，未写入", {Count(totals.dryRun)}));
    if (totals.failed > 0)
        parts.push_back(Fill("%1 个目录失败", {Count(totals.failed)}));
    if (totals.cancelled > 0)
        parts.push_back(Fill("%1 个目录因取消未写入", {Count(totals.cancelled)}));
    if (totals.listedTwice > 0)
        parts.push_back(Fill("%1 个目录重复列出", {Count(totals.listedTwice)}));
    if (totals.blocks > 0)
        parts.push_back(Fill("含 %1 个分块", {Count(totals.blocks)}));
    if (totals.blocksNotWritten > 0)
        parts.push_back(Fill("%1 个分块未写入", {Count(totals.blocksNotWritten)}));
    if (totals.leftOut > 0)
        parts.push_back(Fill("%1 个子目录未收录", {Count(totals.leftOut)}));
    if (const std::size_t holes = OverviewHoleCount(report); holes > 0)
        parts.push_back(Fill("%1 个瓦片在总览中缺失", {Count(holes)}));
    if (totals.warnings > 0)
        parts.push_back(Fill("%1 条警告", {Count(totals.warnings)}));
    if (totals.cachedVerdicts > 0)
        parts.push_back(Fill("%1 个子目录的检查结果来自缓存", {Count(totals.cachedVerdicts)}));
    std::string summary;
    for (std::size_t i = 0; i < parts.size(); ++i)
        summary += (i > 0 ? "，" : "") + parts[i];
    summary += "。";
    if (totals.failed > 0 || totals.cancelled > 0 || totals.blocksNotWritten > 0)
        summary += "排除原因后可再按“确定”重新导出。";
    return summary;
}

} // namespace

std::string LocalFrameNote(Language language) {
    return language == Language::Chinese ? "局部坐标系，保留自身坐标，未放到地图坐标中"
                                         : "local frame: it stays in its own coordinates, not "
                                           "placed in map coordinates";
}

ReportText DescribeReport(const ExportReport& report) {
    ReportText text;
    text.succeeded = report.succeeded() && !report.cancelled;
    text.headline = text.succeeded ? "导出成功" : "导出未完成";
    text.summary = Summarize(report);
    for (const Problem& warning : report.warnings)
        text.warnings.push_back(DialogProblem(warning));
    text.folders.reserve(report.folders.size());
    for (const FolderReport& folder : report.folders)
        text.folders.push_back(DescribeFolder(folder));
    return text;
}

bool NothingToTell(const ExportReport& report) {
    return report.spotless() && OverviewHoleCount(report) == 0;
}

std::string DescribeDuration(std::chrono::milliseconds took) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(took.count(), 0);
    if (ms < 59950)
        return ShortNumber(static_cast<double>(ms) / 1000.0) + " 秒";
    const auto s = (ms + 500) / 1000;
    if (s < 3600)
        return Fill("%1 分 %2 秒", {std::to_string(s / 60), std::to_string(s % 60)});
    return Fill("%1 小时 %2 分", {std::to_string(s / 3600), std::to_string(s % 3600 / 60)});
}

std::string SuccessDetails(const ExportReport& report, std::chrono::milliseconds took) {
    // Enough to see at a glance where each index went and where it stands; the rest is what
    // the results window is for.
    constexpr std::size_t kFoldersShown = 5;
    const ReportText text = DescribeReport(report);
    std::string details = Fill("%1用时 %2。", {text.summary, DescribeDuration(took)});
    std::size_t shown = 0, listed = 0;
    for (std::size_t i = 0; i < report.folders.size(); ++i) {
        const FolderReport& folder = report.folders[i];
        if (!folder.master.empty() || folder.status == FolderStatus::ListedTwice)
            continue;
        ++listed;
        if (shown == kFoldersShown)
            continue;
        ++shown;
        // What was written on a line of its own, the translation and its source under it:
        // each short enough for the box not to break it.
        details += "\n" + Fill("%1：%2，%3 个条目",
                               {PathText(folder.indexFile), WordsOf(folder.index).chinese,
                                Count(folder.entries.size())});
        if (!text.folders[i].translation.empty())
            details += "\n" + Fill("    平移 %1", {text.folders[i].translation});
        if (!text.folders[i].tileset.empty())
            details += "\n    " + text.folders[i].tileset;
    }
    if (listed > shown)
        details += "\n" + Fill("另有 %1 个目录，详见“导出结果”。", {Count(listed - shown)});
    return details;
}

std::string PlainText(const ReportText& text, BlockLayout layout) {
    const std::vector<std::string> columns = ColumnTitles();
    const std::string indent = "  ";
    std::vector<std::string> lines{text.headline, text.summary};
    for (const std::string& warning : text.warnings)
        lines.push_back(Field("警告", warning));
    const auto& folders = text.folders;
    // Nested: the folder of blocks that `i` belongs to, the first later folder its master
    // names; folders.size() for a folder that is no block, and for every folder when listed.
    const auto masterOf = [&](std::size_t i) {
        for (std::size_t j = i + 1;
             layout == BlockLayout::Nested && j < folders.size() && !folders[i].master.empty(); ++j)
            if (folders[j].folder == folders[i].master)
                return j;
        return folders.size();
    };
    // A nested folder of blocks is followed by its blocks, indented one step further.
    std::function<void(std::size_t, const std::string&)> addFolder = [&](std::size_t i,
                                                                         const std::string& outer) {
        const FolderText& folder = folders[i];
        const std::string in = outer + indent;
        lines.emplace_back();
        lines.push_back(outer + Field(outer.empty() ? columns[0] : "分块", folder.folder));
        if (layout == BlockLayout::Listed && !folder.master.empty())
            lines.push_back(in + Fill("属于分块目录 %1", {folder.master}));
        lines.push_back(in + Field(columns[1], folder.status));
        if (!folder.entries.empty())
            lines.push_back(in + Field(columns[2], folder.entries));
        if (!folder.translation.empty())
            lines.push_back(in + Field(columns[3], folder.translation));
        if (!folder.error.empty())
            lines.push_back(in + Field("错误", folder.error));
        for (const std::string& warning : folder.warnings)
            lines.push_back(in + Field("警告", warning));
        if (!folder.leftOut.empty()) {
            lines.push_back(in + LeftOutGroup(folder.leftOut.size()) + "：");
            for (const LeftOutText& leftOut : folder.leftOut)
                lines.push_back(in + indent + Field(leftOut.name, leftOut.reason));
        }
        if (!folder.overviewHoles.empty()) {
            lines.push_back(in + OverviewHoleGroup(folder.overviewHoles.size()) + "：");
            for (const LeftOutText& hole : folder.overviewHoles)
                lines.push_back(in + indent + Field(hole.name, hole.reason));
        }
        if (!folder.tileset.empty())
            lines.push_back(in + folder.tileset);
        if (!folder.tilesetLeftOut.empty()) {
            lines.push_back(in + TilesetLeftOutGroup(folder.tilesetLeftOut.size()) + "：");
            for (const LeftOutText& file : folder.tilesetLeftOut)
                lines.push_back(in + indent + Field(file.name, file.reason));
        }
        for (std::size_t b = 0; b < i; ++b)
            if (masterOf(b) == i)
                addFolder(b, in);
    };
    for (std::size_t i = 0; i < folders.size(); ++i)
        if (masterOf(i) == folders.size())
            addFolder(i, {});
    std::string joined;
    for (const std::string& line : lines)
        joined += line + "\n";
    return joined;
}

std::vector<std::string> ColumnTitles() {
    return {"目录", "状态", "条目数", "平移与来源"};
}

std::string LeftOutGroup(std::size_t count) {
    return Fill("未收录的子目录（%1 个）", {Count(count)});
}

std::string OverviewHoleGroup(std::size_t count) {
    return Fill("总览中缺少的瓦片（%1 个，近看时仍会加载）", {Count(count)});
}

std::string TilesetLeftOutGroup(std::size_t count) {
    return Fill("未收入 3D Tiles 瓦片集的文件（%1 个，由上一级代替显示）", {Count(count)});
}

std::string DescribeStatus(FolderStatus status) {
    return WordsOf(status).chinese;
}

std::string DescribeOrigin(const FolderReport& folder) {
    const std::filesystem::path& report = folder.originReport;
    return Fill(WordsOf(folder.originSource).chinese,
                {PathText(report.parent_path()), PathText(report.filename()), PathText(report)});
}

std::string DescribeTranslation(const osg::Vec3d& translation) {
    return Fill("(%1, %2, %3)", {ExactNumber(translation.x()), ExactNumber(translation.y()),
                                 ExactNumber(translation.z())});
}

} // namespace brindle::wording
