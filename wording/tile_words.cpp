#include "wording/words.h"

namespace brindle::wording {
namespace {

// Placeholders as TileStatusWords says: %1 root file, %2 subfolder, %3 seconds, %4 memory,
// %5 cause, %6 why the file does not load.
constexpr TileStatusWords kTileStatuses[] = {
    {TileStatus::Valid, "valid", {"listed", "已收录"}, {"listed", "有效"}, {"loads", "可以加载"}},
    {TileStatus::NoRootFile,
     "no_root_file",
     {"no root file", "无根文件"},
     {"no root.osgb or %2.osgb in it", "无 root.osgb，也无 %2.osgb"},
     {"names a missing file", "指向的文件不存在"}},
    {TileStatus::NotRegularFile,
     "not_regular_file",
     {"root file not a regular file", "根文件不是普通文件"},
     {"%1 is not a regular file", "%1 不是普通文件"},
     {"names a folder or other file that is not a regular file", "指向目录或其他非普通文件"}},
    {TileStatus::LoadFailed,
     "load_failed",
     {"failed to load", "无法加载"},
     {"%1 failed to load[: %6][: %5]", "%1 无法加载[（%6）][（%5）]"},
     {"failed to load[: %6][: %5]", "无法加载[（%6）][（%5）]"}},
    {TileStatus::ReaderCrashed,
     "reader_crashed",
     {"crashed the reader", "读取时崩溃"},
     {"%1 crashed the reader", "读取 %1 时崩溃"},
     {"crashed the reader", "读取时崩溃"}},
    {TileStatus::TimedOut,
     "timed_out",
     {"timed out", "加载超时"},
     {"%1 took longer than %3 s to load", "%1 加载超过 %3 秒"},
     {"took longer than %3 s to load", "加载超过 %3 秒"}},
    {TileStatus::OutOfMemory,
     "out_of_memory",
     {"out of memory", "内存超限"},
     {"%1 needed more than %4 to load", "%1 加载需要超过 %4 内存"},
     {"needed more than %4 to load", "加载需要超过 %4 内存"}},
    // An index names no entry by a name the scan would have refused, nor one leading back to
    // the folder or to a block left unwritten: such an entry is simply broken.
    {TileStatus::UnsafeName,
     "unsafe_name",
     {"unsafe name", "名称不安全"},
     {"its name holds a backslash or a control character", "名称含反斜杠或控制字符"},
     {"broken", "已损坏"}},
    {TileStatus::LinksBack,
     "links_back",
     {"leading back to the folder", "指回所列目录"},
     {"it leads back to the listed folder", "指回所列目录"},
     {"broken", "已损坏"}},
    {TileStatus::Cycle,
     "cycle",
     {"naming itself in a cycle", "循环引用"},
     {"%1 names files to load that lead back to themselves; a viewer would load it without end",
      "%1 引用的文件循环指回自身，查看器会无休止地加载"},
     {"names files to load that lead back to themselves", "引用的文件循环指回自身"}},
    {TileStatus::BlockNotWritten,
     "block_not_written",
     {"block not written", "分块索引未写入"},
     {"the block's own index was not written", "该分块的索引未写入"},
     {"broken", "已损坏"}},
};

// %1 the reader's own words, for ReaderError; without them its words are None's.
constexpr LoadFailureWords kLoadFailures[] = {
    {LoadFailure::None, nullptr, {"the reader gave no reason", "原因不明"}},
    {LoadFailure::EmptyFile, "empty_file", {"the file is empty", "文件为空"}},
    {LoadFailure::NotAScene,
     "not_a_scene",
     {"not an OpenSceneGraph scene file", "不是 OSG 场景文件"}},
    {LoadFailure::Truncated, "truncated", {"the file is cut short", "文件被截断"}},
    {LoadFailure::UnknownCompressor,
     "unknown_compressor",
     {"compressed with a method the reader does not have", "使用了读取程序没有的压缩方式"}},
    {LoadFailure::UnsupportedVersion,
     "unsupported_version",
     {"written by a newer version of the reader", "由更新版本的读取程序写入"}},
    {LoadFailure::ReaderError, "reader_error", {"the reader says \"%1\"", "%1"}},
};

// %1 the system's cause.
constexpr SummaryFailureWords kSummaryFailures[] = {
    {SummaryFailure::NoSurface,
     "no_surface",
     {"its coarsest level draws no triangle seen from above", "最粗一级从上方看不到任何三角面"}},
    {SummaryFailure::TooLarge,
     "too_large",
     {"its coarsest level holds more than an overview reads",
      "最粗一级的数据量超出总览可读取的上限"}},
    {SummaryFailure::OutOfMemory,
     "out_of_memory",
     {"summarizing it reached the memory ceiling", "生成总览时内存超限"}},
    {SummaryFailure::Crashed,
     "crashed",
     {"the reader crashed while summarizing it", "生成总览时读取程序崩溃"}},
    {SummaryFailure::TimedOut, "timed_out", {"summarizing it took too long", "生成总览超时"}},
    {SummaryFailure::Unreadable,
     "unreadable",
     {"it could not be read again[: %1]", "无法再次读取该瓦片[：%1]"}},
};

constexpr bool EveryStatusWorded() {
    for (const TileStatusWords& row : kTileStatuses)
        if (!Filled(row.key) || !Filled(row.brief) || !Filled(row.leftOut) ||
            !Filled(row.brokenEntry))
            return false;
    return true;
}

constexpr bool EveryLoadFailureWorded() {
    for (const LoadFailureWords& row : kLoadFailures)
        if ((row.failure != LoadFailure::None && !Filled(row.key)) || !Filled(row.words))
            return false;
    return true;
}

constexpr bool EverySummaryFailureWorded() {
    for (const SummaryFailureWords& row : kSummaryFailures)
        if (!Filled(row.key) || !Filled(row.words))
            return false;
    return true;
}

static_assert(RowsInOrder(kTileStatuses, &TileStatusWords::status, kTileStatusCount),
              "one row for each tile status, in the order of TileStatus");
static_assert(EveryStatusWorded(), "every tile status has its key and words");
static_assert(RowsInOrder(kLoadFailures, &LoadFailureWords::failure, kLoadFailureCount),
              "one row for each load failure, in the order of LoadFailure");
static_assert(EveryLoadFailureWorded(), "every load failure has its key and words");
static_assert(RowsInOrder(kSummaryFailures, &SummaryFailureWords::reason, kSummaryFailureCount),
              "one row for each summary failure, in the order of SummaryFailure");
static_assert(EverySummaryFailureWorded(), "every summary failure has its key and words");

constexpr TileStatusWords kUnknownStatus{TileStatus::LoadFailed,
                                         "unknown",
                                         {"left out", "未收录"},
                                         {"left out", ""},
                                         {"broken", "已损坏"}};
constexpr LoadFailureWords kUnknownLoadFailure = kLoadFailures[0];
constexpr SummaryFailureWords kUnknownSummaryFailure{
    SummaryFailure::NoSurface, "unknown", {"no summary could be made of it", "无法生成总览"}};

} // namespace

const TileStatusWords& WordsOf(TileStatus status) {
    const auto row = static_cast<std::size_t>(status);
    return row < kTileStatusCount ? kTileStatuses[row] : kUnknownStatus;
}

const LoadFailureWords& WordsOf(LoadFailure failure) {
    const auto row = static_cast<std::size_t>(failure);
    return row < kLoadFailureCount ? kLoadFailures[row] : kUnknownLoadFailure;
}

const SummaryFailureWords& WordsOf(SummaryFailure reason) {
    const auto row = static_cast<std::size_t>(reason);
    return row < kSummaryFailureCount ? kSummaryFailures[row] : kUnknownSummaryFailure;
}

} // namespace brindle::wording
