#include "wording/words.h"

namespace brindle::wording {
namespace {

constexpr FolderStatusWords kFolderStatuses[] = {
    {FolderStatus::Written, "written", "已写入"},
    {FolderStatus::DryRun, "dry_run", "试运行，未写入"},
    {FolderStatus::Failed, "failed", "失败"},
    {FolderStatus::Cancelled, "cancelled", "已取消，未写入"},
    {FolderStatus::ListedTwice, "listed_twice", "重复列出，未再导出"},
};

constexpr IndexKindWords kIndexKinds[] = {
    {IndexKind::Proxy, "proxy", {"", ""}, "代理索引"},
    {IndexKind::Paged, "paged", {" (paged index)", "（分页索引）"}, "分页索引"},
    {IndexKind::Overview, "overview", {" (overview index)", "（总览索引）"}, "总览索引"},
};

// %1 the folder of the report, %2 its file name, %3 the file whole.
constexpr OriginWords kOrigins[] = {
    {OriginSource::ThisFolder, "this_folder", "来自本目录的 report.txt"},
    {OriginSource::CarriedOver, "carried_over", "沿用目录 %1 的 %2"},
    {OriginSource::None, "none", "尚未读到 report.txt，使用零平移"},
    {OriginSource::Metadata, "metadata", "来自 %3"},
    {OriginSource::Blocks, "blocks", "分块目录不平移，各分块的索引自带平移"},
};

constexpr SrsKindWords kSrsKinds[] = {
    {SrsKind::None, nullptr},
    {SrsKind::Projected, "projected"},
    {SrsKind::Geographic, "geographic"},
    {SrsKind::Enu, "enu"},
    {SrsKind::Unknown, "unknown"},
};

constexpr TilesetStatusWords kTilesetStatuses[] = {
    {TilesetStatus::Written,
     "written",
     {"  3D Tiles: %1 (%2 files converted, %3 unchanged taken as they were, %4 left out)",
      "  3D Tiles：%1（转换 %2 个文件，沿用未改动的 %3 个，未收入 %4 个）"},
     "已写入"},
    {TilesetStatus::DryRun,
     "dry_run",
     {"  3D Tiles: %1 would be written", "  3D Tiles：试运行，将写入 %1"},
     "试运行，未写入"},
    {TilesetStatus::Failed,
     "failed",
     {"  3D Tiles: %1 not written; an earlier tileset there is as it was",
      "  3D Tiles：未写入 %1，原有的瓦片集保持不变"},
     "失败"},
    {TilesetStatus::Cancelled,
     "cancelled",
     {"  3D Tiles: cancelled; %1 is as it was", "  3D Tiles：已取消，%1 保持不变"},
     "已取消，未写入"},
};

template <typename Row> constexpr bool EveryRowWorded(const Row& rows) {
    for (const auto& row : rows)
        if (!Filled(row.key) || !Filled(row.chinese))
            return false;
    return true;
}

static_assert(RowsInOrder(kFolderStatuses, &FolderStatusWords::status, kFolderStatusCount),
              "one row for each folder status, in the order of FolderStatus");
static_assert(EveryRowWorded(kFolderStatuses), "every folder status has its key and words");
static_assert(RowsInOrder(kIndexKinds, &IndexKindWords::kind, kIndexKindCount),
              "one row for each index kind, in the order of IndexKind");
static_assert(EveryRowWorded(kIndexKinds), "every index kind has its key and name");
static_assert(RowsInOrder(kOrigins, &OriginWords::source, kOriginSourceCount),
              "one row for each translation source, in the order of OriginSource");
static_assert(EveryRowWorded(kOrigins), "every translation source has its key and words");
static_assert(RowsInOrder(kTilesetStatuses, &TilesetStatusWords::status, kTilesetStatusCount),
              "one row for each tileset status, in the order of TilesetStatus");
static_assert(EveryRowWorded(kTilesetStatuses), "every tileset status has its key and words");
static_assert(RowsInOrder(kSrsKinds, &SrsKindWords::kind, kSrsKindCount),
              "one row for each SRS kind, in the order of SrsKind");

constexpr FolderStatusWords kUnknownFolderStatus{FolderStatus::Failed, "unknown", ""};
constexpr IndexKindWords kUnknownIndexKind{IndexKind::Proxy, "unknown", {"", ""}, "索引"};
constexpr OriginWords kUnknownOrigin{OriginSource::None, "unknown", ""};
constexpr SrsKindWords kUnknownSrsKind{SrsKind::None, nullptr};
constexpr TilesetStatusWords kUnknownTilesetStatus{TilesetStatus::Failed, "unknown", {"", ""}, ""};

} // namespace

const FolderStatusWords& WordsOf(FolderStatus status) {
    const auto row = static_cast<std::size_t>(status);
    return row < kFolderStatusCount ? kFolderStatuses[row] : kUnknownFolderStatus;
}

const IndexKindWords& WordsOf(IndexKind kind) {
    const auto row = static_cast<std::size_t>(kind);
    return row < kIndexKindCount ? kIndexKinds[row] : kUnknownIndexKind;
}

const OriginWords& WordsOf(OriginSource source) {
    const auto row = static_cast<std::size_t>(source);
    return row < kOriginSourceCount ? kOrigins[row] : kUnknownOrigin;
}

const SrsKindWords& WordsOf(SrsKind kind) {
    const auto row = static_cast<std::size_t>(kind);
    return row < kSrsKindCount ? kSrsKinds[row] : kUnknownSrsKind;
}

const TilesetStatusWords& WordsOf(TilesetStatus status) {
    const auto row = static_cast<std::size_t>(status);
    return row < kTilesetStatusCount ? kTilesetStatuses[row] : kUnknownTilesetStatus;
}

} // namespace brindle::wording
