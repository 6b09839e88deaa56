#include "wording/report_wording.h"

#include "export/scan/metadata_xml.h"
#include "wording/problem_wording.h"
#include "wording/text.h"

// The questions and hints of the dialogs, and what they say when a run stops short.
namespace brindle::wording {

std::string ReplaceQuestion(const Problem& why) {
    const std::string folder = PathText(why.path.parent_path());
    switch (why.kind) {
    case ProblemKind::ExistingHoldsScene:
        return Fill("%1 中已有 root.osgb，它是模型数据，不是索引。此目录像是瓦片目录，"
                    "应改为列出它的上一级目录。替换会丢失这份模型数据，建议保留。要替换它吗？",
                    {folder});
    case ProblemKind::NoTilesFound:
    case ProblemKind::NoTilesLooksLikeTile:
    case ProblemKind::NoTilesOneLevelTooHigh:
        return Fill("%1 中没有任何子目录含可加载的瓦片。仍要写入一个空索引吗？",
                    {PathText(why.path)});
    case ProblemKind::NoTilesKeptIndex:
        return Fill("%1 中没有任何子目录含可加载的 root.osgb。要用空索引替换已有的 root.osgb 吗？",
                    {folder});
    case ProblemKind::ExistingUnreadable:
        return Fill("%1 中已有 root.osgb，但无法读取它（%2），不能确定它是不是索引。要替换它吗？",
                    {folder, why.cause ? DescribeCause(Language::Chinese, why.cause) : "原因不明"});
    case ProblemKind::MetadataGeographicSrs:
        return Fill("%1 的坐标系 %2 是地理坐标系（单位为度），SRSOrigin 不是以米为单位的平移，"
                    "按平移写入会使瓦片远离实际位置。仍要按平移写入索引吗？",
                    {PathText(why.path), FirstSrs(why)});
    default:
        return Fill("要替换 %1 吗？", {PathText(why.path)});
    }
}

ReplaceAnswers AnswersTo(const Problem& why) {
    switch (why.kind) {
    case ProblemKind::NoTilesFound:
    case ProblemKind::NoTilesLooksLikeTile:
    case ProblemKind::NoTilesOneLevelTooHigh:
        return {"写入空索引", "不写入"};
    case ProblemKind::MetadataGeographicSrs:
        return {"按平移写入", "不写入"};
    default:
        return {"替换", "不替换"};
    }
}

std::string EmptyListHint() {
    return "请添加测区目录（按“增加”或把目录拖到这里）。\n"
           "测区目录可以是其下各子目录含 root.osgb 的目录，\n"
           "也可以是含 metadata.xml 和 Data 目录的生产目录。";
}

std::string PagedIndexHint(const std::vector<std::filesystem::path>& bigFolders) {
    // The folder's own name; the list above shows its whole path. A production folder's Data
    // folder is named with the production folder, as every block has a Data folder.
    std::filesystem::path name = bigFolders.front();
    if (!name.has_filename()) // "Block_A/"
        name = name.parent_path();
    std::filesystem::path own = name.has_relative_path() ? name.filename() : name;
    if (IsDataFolderName(own) && name.parent_path().has_relative_path())
        own = name.parent_path().filename() / own;
    const std::string shown = PathText(own);
    const std::string above = std::to_string(kPagedIndexAdvisedAbove);
    if (bigFolders.size() == 1)
        return Fill("提示：%1 有超过 %2 个子目录，建议选用总览索引，远看整个测区，近看加载瓦片；"
                    "只看局部时也可选分页索引。",
                    {shown, above});
    return Fill("提示：%1 等 %3 个目录各有超过 %2 个子目录，建议选用总览索引，远看整个测区，"
                "近看加载瓦片；只看局部时也可选分页索引。",
                {shown, above, std::to_string(bigFolders.size())});
}

std::string RunOutOfMemory() {
    return "导出时内存不足，未能完成。目录列表未改动，可关闭其他程序后再按“确定”重试。";
}

std::string RunFailedUnexpectedly(const std::string& what) {
    const std::string words = SystemText(what);
    if (words.find_first_not_of(" \t\r\n\f\v") == std::string::npos)
        return "导出时发生意外错误，未能完成。目录列表未改动。";
    return Fill("导出时发生意外错误，未能完成：%1\n目录列表未改动。", {words});
}

} // namespace brindle::wording
