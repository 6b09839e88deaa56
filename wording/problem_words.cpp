#include "wording/words.h"

namespace brindle::wording {
namespace {

constexpr char kForceReplace[] = "使用 --force 可替换它";

// Placeholders as ProblemWords says: %1 path, %2 first SRS, %3 its file, %4 every block's SRS,
// %5 cause.
constexpr ProblemWords kProblems[] = {
    {ProblemKind::FolderMissing,
     "folder_missing",
     {"%1: folder does not exist", "目录 %1 不存在[：%5]"},
     nullptr},
    {ProblemKind::NotAFolder, "not_a_folder", {"%1: not a folder", "%1 不是目录[：%5]"}, nullptr},
    {ProblemKind::FolderUnreadable,
     "folder_unreadable",
     {"%1: cannot be read[: %5]", "无法读取目录 %1[：%5]"},
     nullptr},
    {ProblemKind::WriteFailed,
     "write_failed",
     {"%1: cannot be written[: %5]", "无法写入 %1[：%5]"},
     nullptr},
    {ProblemKind::NoIndexWriter,
     "no_index_writer",
     {"%1: cannot be written: no .osgb writer plugin is installed",
      "无法写入 %1：场景库缺少 .osgb 写入插件[：%5]"},
     nullptr},
    {ProblemKind::WorkersUnavailable,
     "workers_unavailable",
     {"%1: the tile-check worker cannot be started[: %5]", "无法启动子目录检查程序 %1[：%5]"},
     nullptr},
    {ProblemKind::ExistingHoldsScene,
     "existing_holds_scene",
     {"%1: is a model (scene data), not an index, so it was kept; this looks like a tile folder: "
      "list its parent folder instead",
      "已有的 %1 是模型数据，不是索引，已保留。此目录像是瓦片目录，请改为列出它的上一级目录[：%5]"},
     nullptr},
    {ProblemKind::ExistingUnreadable,
     "existing_unreadable",
     {"%1: could not be read, so it was kept (use --force to replace it)[: %5]",
      "无法读取已有的 %1[（%5）]，未替换"},
     kForceReplace},
    {ProblemKind::NoTilesKeptIndex,
     "no_tiles_kept_index",
     {"%1: no subfolder holds a loadable root.osgb; the existing index was kept (use --force to "
      "replace it)",
      "没有任何子目录含可加载的 root.osgb，保留了已有的 %1[：%5]"},
     kForceReplace},
    {ProblemKind::ReportUnreadable,
     "report_unreadable",
     {"%1: cannot be read; translation left unchanged[: %5]", "无法读取 %1，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::ReportNotRegularFile,
     "report_not_regular_file",
     {"%1: not a regular file; translation left unchanged", "%1 不是普通文件，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::ReportNoSecondLine,
     "report_no_second_line",
     {"%1: has no second line with the origin; translation left unchanged",
      "%1 没有写有原点的第 2 行，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::ReportNoOrigin,
     "report_no_origin",
     {"%1: line 2 holds no origin of the form \"X: <x> Y: <y> Z: <z>\" (no capital Y, or no "
      "number where X or Y starts); translation left unchanged",
      "%1 的第 2 行没有“X: <x> Y: <y> Z: <z>”形式的原点坐标（没有大写 Y，或 X、Y "
      "之后不是数字），平移未更新[：%5]"},
     nullptr},
    {ProblemKind::ReportOriginNotFinite,
     "report_origin_not_finite",
     {"%1: line 2 gives an X or Y that is infinite or not a number; translation left unchanged",
      "%1 的第 2 行中 X 或 Y 为无穷大或非数值，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::IndexNotFlushed,
     "index_not_flushed",
     {"%1: written, but its folder could not be flushed to disk, so a power cut now could lose "
      "the new index[: %5]",
      "已写入 %1，但未能把所在目录刷新到磁盘，此时断电可能丢失新索引[：%5]"},
     nullptr},
    {ProblemKind::NoTilesFound,
     "no_tiles_found",
     {"%1: no subfolder holds a root.osgb or <name>.osgb that loads, so no index was written "
      "(use --force to write an empty one)",
      "%1 中没有任何子目录含可加载的 root.osgb 或 <子目录名>.osgb，未写入索引[：%5]"},
     "使用 --force 可写入空索引"},
    {ProblemKind::NoTilesLooksLikeTile,
     "no_tiles_looks_like_tile",
     {"%1: no subfolder holds a tile, and the folder holds .osgb files itself: it looks like a "
      "tile folder, one level too low; list its parent folder instead. No index was written",
      "%1 中没有任何子目录含瓦片，但它自身含 .osgb 文件，像是瓦片目录（低了一级）；"
      "请改为列出它的上一级目录。未写入索引[：%5]"},
     nullptr},
    {ProblemKind::NoTilesOneLevelTooHigh,
     "no_tiles_one_level_too_high",
     {"%1: no subfolder holds a tile, but their subfolders do: the folder is one level too high; "
      "list the folders inside it instead. No index was written",
      "%1 中没有任何子目录含瓦片，但再下一级的目录含瓦片，目录高了一级；"
      "请改为列出其中的目录。未写入索引[：%5]"},
     nullptr},
    {ProblemKind::MetadataUnreadable,
     "metadata_unreadable",
     {"%1: cannot be read; translation left unchanged[: %5]", "无法读取 %1，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::MetadataNotRegularFile,
     "metadata_not_regular_file",
     {"%1: not a regular file; translation left unchanged", "%1 不是普通文件，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::MetadataTooLarge,
     "metadata_too_large",
     {"%1: larger than 1 MB, so not a metadata file; translation left unchanged",
      "%1 超过 1 MB，不是元数据文件，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::MetadataNotXml,
     "metadata_not_xml",
     {"%1: not well-formed XML; translation left unchanged", "%1 不是有效的 XML，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::MetadataNoOrigin,
     "metadata_no_origin",
     {"%1: has no <SRSOrigin>; translation left unchanged",
      "%1 中没有 SRSOrigin，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::MetadataBadOrigin,
     "metadata_bad_origin",
     {"%1: <SRSOrigin> is not \"x,y,z\" in finite numbers; translation left unchanged",
      "%1 的 SRSOrigin 不是“x,y,z”形式的三个有限数值，平移未更新[：%5]"},
     nullptr},
    {ProblemKind::RootNamesDifferInCase,
     "root_names_differ_in_case",
     {"%1: listed; the tile folder holds other files by this name in other letter case, which "
      "Windows cannot tell apart",
      "已列入 %1；该瓦片目录中还有仅大小写不同的同名文件，Windows 无法区分[：%5]"},
     nullptr},
    {ProblemKind::NamesDifferInCase,
     "names_differ_in_case",
     {"%1: read; its folder holds other files by this name in other letter case, which Windows "
      "cannot tell apart",
      "已读取 %1；所在目录中还有仅大小写不同的同名文件，Windows 无法区分[：%5]"},
     nullptr},
    {ProblemKind::CacheFolderIsLink,
     "cache_folder_is_link",
     {"%1: the verdict cache folder is a symbolic link, so it was not used; every tile was "
      "checked",
      "校验缓存目录 %1 是符号链接，未使用；所有瓦片均已重新检查[：%5]"},
     nullptr},
    {ProblemKind::CacheFolderNotOwned,
     "cache_folder_not_owned",
     {"%1: the verdict cache folder belongs to another user, so it was not used; every tile was "
      "checked",
      "校验缓存目录 %1 属于其他用户，未使用；所有瓦片均已重新检查[：%5]"},
     nullptr},
    {ProblemKind::CacheFolderOpenToOthers,
     "cache_folder_open_to_others",
     {"%1: others may write into the verdict cache folder, so it was not used; every tile was "
      "checked",
      "其他用户可写入校验缓存目录 %1，未使用；所有瓦片均已重新检查[：%5]"},
     nullptr},
    {ProblemKind::CacheFolderUnusable,
     "cache_folder_unusable",
     {"%1: the verdict cache folder cannot be used, so every tile was checked and re-runs will "
      "not be faster[: %5]",
      "无法使用校验缓存目录 %1，所有瓦片均已重新检查，再次导出不会加快[：%5]"},
     nullptr},
    {ProblemKind::CacheNotWritten,
     "cache_not_written",
     {"%1: the verdict cache cannot be written, so the next run will check these tiles "
      "again[: %5]",
      "无法写入校验缓存 %1，下次导出将重新检查这些瓦片[：%5]"},
     nullptr},
    {ProblemKind::MetadataGeographicSrs,
     "metadata_geographic_srs",
     {"%1: SRS %2 is geographic (degrees), so <SRSOrigin> is no translation in metres; no index "
      "was written (use --force to write it as one all the same)",
      "%1 的坐标系 %2 是地理坐标系（单位为度），SRSOrigin 不能作为以米为单位的平移，"
      "未写入索引"},
     "使用 --force 可仍按平移写入"},
    {ProblemKind::MetadataGeographicSrsForced,
     "metadata_geographic_srs_forced",
     {"%1: SRS %2 is geographic (degrees); <SRSOrigin> was written as a translation in metres all "
      "the same, so the tiles may lie far from their place",
      "%1 的坐标系 %2 是地理坐标系（单位为度），但 SRSOrigin 仍按以米为单位的平移写入，"
      "瓦片可能远离实际位置"},
     nullptr},
    {ProblemKind::SrsLibraryMissing,
     "srs_library_missing",
     {"%1: the projection library cannot be loaded, so SRS %2 of %3 cannot be identified; no "
      "index was written (install PROJ, which provides %1)",
      "无法加载投影库 %1，无法识别 %3 中的坐标系 %2，未写入索引（请安装提供 %1 的 PROJ）"},
     nullptr},
    {ProblemKind::BlocksSrsDiffer,
     "blocks_srs_differ",
     {"%1: its blocks are in different spatial references (%4), so their indexes do not line up "
      "when combined",
      "%1 中各分块的坐标系不同（%4），合并后彼此对不齐"},
     nullptr},
    {ProblemKind::OverviewNotWritten,
     "overview_not_written",
     {"%1: the overview levels cannot be written there, so no index was written[: %5]",
      "无法在 %1 中写入总览层级，因此未写入索引[：%5]"},
     nullptr},
    {ProblemKind::OldOverviewKept,
     "old_overview_kept",
     {"%1: the old overview the new index replaced cannot be removed; no index uses it now, and "
      "the next run removes it[: %5]",
      "已写入新索引，但无法删除被替换的旧总览目录 %1；它已不属于任何索引，下次导出时会删除[：%5]"},
     nullptr},
    {ProblemKind::FolderBusy,
     "folder_busy",
     {"%1: another run is exporting this folder, so this run left it as it was",
      "另一个导出正在处理 %1，本次导出未改动该目录[：%5]"},
     nullptr},
    {ProblemKind::TilesetNotWritten,
     "tileset_not_written",
     {"%1: the 3D Tiles tileset cannot be written there; an earlier tileset there is kept as it "
      "was[: %5]",
      "无法在 %1 写入 3D Tiles 瓦片集，原有的瓦片集保持不变[：%5]"},
     nullptr},
    {ProblemKind::TilesetFolderNotOurs,
     "tileset_folder_not_ours",
     {"%1: holds files that are no tileset of this program's, so they were left as they were and "
      "no 3D Tiles tileset was written; choose another output folder, or empty this one",
      "%1 中已有不是本程序写入的文件，已保持原样，未写入 3D Tiles "
      "瓦片集；请另选输出目录或清空该目录"},
     nullptr},
    {ProblemKind::TilesetInsideListed,
     "tileset_inside_listed",
     {"%1: the 3D Tiles output folder and a listed folder lie one inside the other, so no "
      "tileset was written; choose an output folder outside the tile folders",
      "3D Tiles 输出目录 %1 与所列目录互相包含，未写入瓦片集；请选择瓦片目录之外的输出目录"},
     nullptr},
    {ProblemKind::TilesetFileLeftOut,
     "tileset_file_left_out",
     {"%1: left out of the 3D Tiles tileset, its coarser level shown in its place[: %5]",
      "%1 未收入 3D Tiles 瓦片集，由其上一级较粗的层级代替显示[：%5]"},
     nullptr},
    {ProblemKind::TilesetLocalFrame,
     "tileset_local_frame",
     {"%1: the block names no spatial reference, so its 3D Tiles tileset stands in a local frame, "
      "not in its place on the globe",
      "该测区未指定坐标系，%1 中的 3D Tiles 瓦片集使用局部坐标，不在地球上的实际位置"},
     nullptr},
};

constexpr bool EveryProblemWorded() {
    for (const ProblemWords& row : kProblems)
        if (!Filled(row.key) || !Filled(row.words))
            return false;
    return true;
}

static_assert(RowsInOrder(kProblems, &ProblemWords::kind, kProblemKindCount),
              "one row for each problem kind, in the order of ProblemKind");
static_assert(EveryProblemWorded(), "every problem kind has its key and words");

constexpr ProblemWords kUnknownProblem{ProblemKind::WriteFailed, "unknown", {"%1", "%1"}, nullptr};

} // namespace

const ProblemWords& WordsOf(ProblemKind kind) {
    const auto row = static_cast<std::size_t>(kind);
    return row < kProblemKindCount ? kProblems[row] : kUnknownProblem;
}

} // namespace brindle::wording
