#include "wording/command_line_wording.h"

#include "wording/text.h"
#include "wording/words.h"

#include <map>

namespace brindle::wording {
namespace {

constexpr char kProgram[] = "brindle-export: ";

bool Chinese(Language language) {
    return language == Language::Chinese;
}

std::string Count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

std::string Number(std::size_t n) {
    return std::to_string(n);
}

std::string Translation(const osg::Vec3d& t) {
    return '(' + FixedNumber(t.x(), 3) + ", " + FixedNumber(t.y(), 3) + ", " +
           FixedNumber(t.z(), 3) + ')';
}

// "; left out 3: 2 no root file, 1 failed to load", reasons in the order of TileStatus.
std::string LeftOutCounts(Language language, const FolderReport& folder) {
    if (folder.leftOut.empty())
        return {};
    std::map<TileStatus, std::size_t> byReason;
    for (const LeftOutSubfolder& skipped : folder.leftOut)
        ++byReason[skipped.reason];
    std::string text = Chinese(language) ? Fill("；未收录 %1 个：", {Number(folder.leftOut.size())})
                                         : "; left out " + Number(folder.leftOut.size()) + ':';
    const char* separator = Chinese(language) ? "" : " ";
    for (const auto& [reason, count] : byReason) {
        text += separator;
        text += Chinese(language)
                    ? Fill("%1 个%2", {Number(count), DescribeReasonBriefly(language, reason)})
                    : Number(count) + ' ' + DescribeReasonBriefly(language, reason);
        separator = Chinese(language) ? "，" : ", ";
    }
    return text;
}

// "; 2 not in the overview".
std::string OverviewHoleCount(Language language, const FolderReport& folder) {
    if (folder.overviewHoles.empty())
        return {};
    const std::string count = Number(folder.overviewHoles.size());
    return Chinese(language) ? Fill("；总览中缺少 %1 个瓦片", {count})
                             : "; " + count + " not in the overview";
}

} // namespace

std::string FolderLine(Language language, const FolderReport& folder) {
    const char* kind = WordsOf(folder.index).note.in(language);
    if (Chinese(language)) {
        std::string line = (folder.status == FolderStatus::DryRun ? "将写入 " : "已写入 ") +
                           PathText(folder.indexFile) + kind;
        if (!folder.blocks.empty())
            line += Fill("，含 %1 个分块", {Number(folder.blocks.size())});
        line += Fill("：%1 个条目，平移 %2",
                     {Number(folder.entries.size()), Translation(folder.translation)});
        if (folder.originSource == OriginSource::CarriedOver)
            line += Fill("，沿用目录 %1 的平移", {PathText(folder.originReport.parent_path())});
        if (folder.originSource == OriginSource::Blocks)
            line += "（各分块自带平移）";
        if (!folder.srs.empty())
            line += Fill("，坐标系 %1", {folder.srs});
        if (folder.localFrame())
            line += Fill("（%1）", {LocalFrameNote(language)});
        return line + LeftOutCounts(language, folder) + OverviewHoleCount(language, folder);
    }
    std::string line = (folder.status == FolderStatus::DryRun ? "would write " : "wrote ") +
                       PathText(folder.indexFile) + kind;
    if (!folder.blocks.empty())
        line += " over " + Count(folder.blocks.size(), "block", "blocks");
    line += ": " + Count(folder.entries.size(), "entry", "entries") + ", translation " +
            Translation(folder.translation);
    // A translation from another folder's report.txt is easy to take for this folder's own.
    if (folder.originSource == OriginSource::CarriedOver)
        line += " carried over from " + PathText(folder.originReport.parent_path());
    if (folder.originSource == OriginSource::Blocks)
        line += " (each block carries its own)";
    if (!folder.srs.empty())
        line += " in " + folder.srs;
    if (folder.localFrame())
        line += " (" + LocalFrameNote(language) + ")";
    return line + LeftOutCounts(language, folder) + OverviewHoleCount(language, folder);
}

std::string BlockOfLine(Language language, const std::filesystem::path& master) {
    return Chinese(language) ? Fill("  属于分块目录 %1", {PathText(master)})
                             : "  block of " + PathText(master);
}

std::string BlockLine(Language language, const std::filesystem::path& block) {
    return Chinese(language) ? Fill("  分块 %1", {PathText(block)}) : "  block " + PathText(block);
}

std::string LeftOutLine(Language language, const LeftOutSubfolder& leftOut) {
    return "  " + PathText(leftOut.name) + (Chinese(language) ? "：" : ": ") +
           DescribeLeftOut(language, leftOut);
}

std::string TilesetLine(Language language, const TilesetReport& tileset) {
    return Fill(WordsOf(tileset.status).line.in(language),
                {PathText(tileset.folder / "tileset.json"), Number(tileset.converted),
                 Number(tileset.reused), Number(tileset.leftOut.size())});
}

std::string TilesetLeftOutLine(Language language, const LeftOutSubfolder& file) {
    return "    " + PathText(file.name) + (Chinese(language) ? "：" : ": ") +
           DescribeLeftOut(language, file);
}

std::string OverviewHoleLine(Language language, const OverviewHole& hole) {
    const std::string name = PathText(hole.name);
    const std::string reason = DescribeOverviewHole(language, hole);
    return Chinese(language) ? Fill("  总览中缺少 %1：%2", {name, reason})
                             : "  " + name + " is not in the overview: " + reason;
}

std::string RecheckedLine(Language language, const std::filesystem::path& tile) {
    return "  " + PathText(tile) +
           (Chinese(language) ? "：超出内存上限，已单独用更多内存重新检查"
                              : ": reached its memory ceiling, checked again alone with more "
                                "memory");
}

std::string ProxyLeafLine(Language language, const std::string& entry) {
    return "  " + entry +
           (Chinese(language) ? "：范围未知，作为打开时即加载的代理节点收录"
                              : ": bound unknown, entered as a proxy node that loads at once");
}

std::string PagedIndexTipLine(Language language, std::size_t entries) {
    return Chinese(language)
               ? Fill("  提示：%1 个瓦片，宜用 --index=overview：查看器立即显示整个测区，"
                      "近看才加载瓦片；只看局部时可用 --index=paged",
                      {Number(entries)})
               : "  tip: " + Number(entries) +
                     " tiles; with --index=overview a viewer shows the whole block at once and "
                     "loads tiles up close; with --index=paged it loads only the tiles in view";
}

std::string ListedTwiceLine(Language language, const FolderReport& folder) {
    const std::string path = PathText(folder.folder);
    if (Chinese(language)) {
        if (folder.firstListing == folder.folder)
            return Fill("%1：重复列出，只导出一次", {path});
        return Fill("%1：与 %2 是同一目录，只在那里导出一次",
                    {path, PathText(folder.firstListing)});
    }
    if (folder.firstListing == folder.folder)
        return path + ": listed twice; exported once";
    return path + ": the same folder as " + PathText(folder.firstListing) +
           ", listed earlier; exported once";
}

std::string WarningLine(Language language, const std::string& sentence) {
    return kProgram + (Chinese(language) ? "警告：" : std::string("warning: ")) + sentence;
}

std::string ErrorLine(Language language, const std::string& sentence) {
    return kProgram + (Chinese(language) ? "错误：" : std::string("error: ")) + sentence;
}

std::string SummaryLine(Language language, const ReportTotals& totals) {
    if (Chinese(language)) {
        std::string line = Fill("共 %1 个目录：", {Number(totals.folders)});
        line += totals.dryRun > 0 ? Fill("试运行 %1 个，未写入", {Number(totals.dryRun)})
                                  : Fill("已写入 %1 个", {Number(totals.written)});
        if (totals.failed > 0)
            line += Fill("，%1 个失败", {Number(totals.failed)});
        if (totals.cancelled > 0)
            line += Fill("，%1 个已取消", {Number(totals.cancelled)});
        if (totals.listedTwice > 0)
            line += Fill("，%1 个重复列出", {Number(totals.listedTwice)});
        if (totals.blocks > 0)
            line += Fill("；含 %1 个分块", {Number(totals.blocks)});
        if (totals.blocksNotWritten > 0)
            line += Fill("，%1 个未写入", {Number(totals.blocksNotWritten)});
        line += Fill("；共 %1 个条目，%2 个子目录未收录",
                     {Number(totals.entries), Number(totals.leftOut)});
        if (totals.cachedVerdicts > 0)
            line += Fill("；其中 %1 个子目录的检查结果来自缓存", {Number(totals.cachedVerdicts)});
        return line;
    }
    std::string line = Count(totals.folders, "folder", "folders") + ": ";
    if (totals.dryRun > 0)
        line += Number(totals.dryRun) + " would be written";
    else
        line += Number(totals.written) + " written";
    if (totals.failed > 0)
        line += ", " + Number(totals.failed) + " failed";
    if (totals.cancelled > 0)
        line += ", " + Number(totals.cancelled) + " cancelled";
    if (totals.listedTwice > 0)
        line += ", " + Number(totals.listedTwice) + " listed twice";
    // The blocks of folders of blocks, which the run exported without their being listed.
    if (totals.blocks > 0)
        line += "; " + Count(totals.blocks, "block", "blocks") + " within";
    if (totals.blocksNotWritten > 0)
        line += ", " + Number(totals.blocksNotWritten) + " not written";
    line += "; " + Count(totals.entries, "entry", "entries") + ", " + Number(totals.leftOut) +
            " left out";
    // Subfolders unchanged since an earlier run checked them were not checked again.
    if (totals.cachedVerdicts > 0)
        line += "; " + Count(totals.cachedVerdicts, "verdict", "verdicts") + " from the cache";
    return line;
}

std::string VerifyLine(Language language, const FolderVerification& folder) {
    const std::string index = PathText(folder.indexFile);
    const std::size_t broken = folder.broken();
    const std::size_t ok = folder.entries.size() - broken;
    const std::size_t levels = folder.levelFiles();
    if (levels == 0) {
        if (Chinese(language))
            return Fill("%1：%2 个条目正常，%3 个损坏", {index, Number(ok), Number(broken)});
        return index + ": " + Count(ok, "entry", "entries") + " ok, " + Number(broken) + " broken";
    }
    // An overview: the level files and the tiles below them, each counted once.
    const std::size_t levelsOk = levels - folder.brokenLevelFiles();
    const std::size_t tilesOk = ok - levelsOk;
    if (Chinese(language))
        return Fill("%1：%2 个总览层级文件和 %3 个瓦片正常，%4 个损坏",
                    {index, Number(levelsOk), Number(tilesOk), Number(broken)});
    return index + ": " + Count(levelsOk, "level file", "level files") + " and " +
           Count(tilesOk, "tile", "tiles") + " ok, " + Number(broken) + " broken";
}

std::string BrokenEntryLine(Language language, const IndexEntryCheck& entry) {
    const std::string separator = Chinese(language) ? "：" : ": ";
    std::string line = "  ";
    if (!entry.namedBy.empty())
        line += PathText(entry.namedBy) + " -> ";
    return line + PathText(std::filesystem::path(entry.name)) + separator +
           DescribeBrokenEntry(language, entry);
}

std::string ProgramLine(const std::string& sentence) {
    return kProgram + sentence;
}

std::string StoppingLine(Language language) {
    return "\n" +
           (Chinese(language)
                ? Fill("%1处理完手头的瓦片后停止；再次中断即立刻停止", {kProgram})
                : std::string(kProgram) + "stopping after the tiles in hand; interrupt again to "
                                          "stop at once") +
           "\n";
}

std::string StoppedLine(Language language, bool interrupted, bool dryRun, std::size_t written) {
    if (Chinese(language))
        return kProgram + std::string(interrupted ? "已中断；" : "已终止；") +
               (dryRun ? std::string("未写入任何文件")
                       : Fill("已写入 %1 个目录，其余目录保留原有索引", {Number(written)}));
    return kProgram + std::string(interrupted ? "interrupted" : "terminated") + "; " +
           (dryRun ? std::string("nothing was written")
                   : Count(written, "folder", "folders") +
                         " written, the others keep their old index");
}

std::string OutputFailedLine(Language language, const std::error_code& cause) {
    if (Chinese(language))
        return Fill("brindle-export: 无法写入标准输出：%1；停止", {DescribeCause(language, cause)});
    return kProgram + std::string("cannot write to standard output: ") +
           DescribeCause(language, cause) + "; stopping";
}

HelpText Help(Language language) {
    HelpText help;
    if (Chinese(language)) {
        help.description = "在每个 FOLDER 中写入索引场景 root.osgb：按该目录 report.txt（或生产目录"
                           " metadata.xml）的原点平移，其下一个代理节点列出每个子目录中可加载的"
                           "瓦片根文件（root.osgb 或 <子目录名>.osgb）。";
        help.footer = "退出状态：\n"
                      "  0    每个目录的索引都已写入（--dry-run 时：都将写入）\n"
                      "  1    有目录失败（其他目录仍会写入），或无法写入标准输出\n"
                      "  2    用法错误\n"
                      "  3    使用 --strict 时：每个目录都已写入，但有子目录未收录或有警告\n"
                      "  130  被 SIGINT（Ctrl-C）中断；已写入的目录保持已写入\n"
                      "  141  标准输出被读取方关闭（如 | head -1）\n"
                      "  143  被 SIGTERM 终止；已写入的目录保持已写入\n";
        help.folder = "含瓦片子目录的目录，按顺序导出";
        help.jobs = "检查瓦片的工作进程数（默认：每个核心一个）";
        help.dryRun = "扫描并检查一切，显示将写入的内容，但不写入任何文件";
        help.force = "替换含模型数据或无法读取的已有 root.osgb；没有子目录可加载时也写入索引";
        help.verify = "不写入；检查每个 FOLDER 已有的 root.osgb 指向的每个文件（总览索引则一直查到"
                      "其下每个层级文件和瓦片）都存在且可加载（全部正常时退出状态为 0，否则为 1）";
        help.strict = "有子目录未收录或有警告时，以状态 3 退出";
        help.noCache = "不使用检查结果缓存：重新检查每个瓦片，也不为下次运行保存结果";
        help.index = "proxy（一个代理节点；查看器一次加载全部瓦片）、paged（每个瓦片一个分页"
                     "节点；查看器只加载视野内的瓦片）或 overview（瓦片之上加总览层级；查看器"
                     "远看显示整个测区，近看才加载瓦片）；默认 proxy";
        help.tilesets = "另为每个 FOLDER 在 DIR/<目录名>/ 写一个 3D Tiles 瓦片集（tileset.json），"
                        "顶层取自总览层级（隐含 --index overview）；瓦片目录中不写入任何文件，"
                        "新瓦片集完整写好之前查看器看到的一直是旧的；再次运行只转换有变化的文件";
        help.tilesetsQuantize = "3D Tiles 内容的顶点属性以整数量化存储（KHR_mesh_quantization），"
                                "文件更小";
        help.tilesetsB3dm = "3D Tiles 内容写成 b3dm（内含 glb），瓦片集为 1.0 版，"
                            "供不能读取 glb 内容的旧查看器使用";
        help.tilesetsMeshopt = "以 meshoptimizer 压缩 3D Tiles 内容的顶点和索引"
                               "（EXT_meshopt_compression），文件更小";
        help.json = "以一个 JSON 文档输出本次运行，而不是逐行输出";
        help.quiet = "只输出错误和警告";
        help.progress = "auto（标准错误是终端时显示进度条）、bar、lines 或 none";
        help.help = "显示此帮助并退出";
        help.version = "显示版本信息并退出";
        help.usage = "用法";
        help.optionsInUsage = "选项";
        help.options = "选项";
        help.positionals = "位置参数";
        help.required = "必需";
        return help;
    }
    help.description = "Writes an index scene root.osgb into each FOLDER: a translation by the "
                       "origin in the folder's report.txt (or a production folder's metadata.xml) "
                       "over a proxy naming every subfolder's tile root (root.osgb or "
                       "<subfolder>.osgb) that loads.";
    help.footer =
        "Exit status:\n"
        "  0    every folder's index was written (with --dry-run: would be written)\n"
        "  1    some folder failed (the others are still written), or standard output could\n"
        "       not be written\n"
        "  2    usage error\n"
        "  3    with --strict: every folder was written, but subfolders were left out or\n"
        "       warnings were given\n"
        "  130  interrupted by SIGINT (Ctrl-C); folders already written stay written\n"
        "  141  standard output was closed by its reader (e.g. | head -1)\n"
        "  143  terminated by SIGTERM; folders already written stay written\n";
    help.folder = "folders holding tile subfolders, exported in order";
    help.jobs = "worker processes checking tiles (default: one per core)";
    help.dryRun = "scan and check everything, print what would be written, write nothing";
    help.force = "replace an existing root.osgb that holds scene data or cannot be read, and "
                 "write an index even when no subfolder loads";
    help.verify = "write nothing; check that every file each FOLDER's existing root.osgb names "
                  "(for an overview, every level file and tile below it) exists and loads "
                  "(exit status 0 when all do, 1 otherwise)";
    help.strict = "exit with status 3 when subfolders were left out or warnings were given";
    help.noCache = "check every tile again, without the verdicts cached by earlier runs, and "
                   "keep none for the next";
    help.index = "proxy (one proxy node; a viewer loads every tile at once), paged (a paged "
                 "node per tile; a viewer loads what is in view) or overview (coarse levels "
                 "above the tiles; a viewer shows the whole block from afar and loads tiles up "
                 "close); default proxy";
    help.tilesets = "also write a 3D Tiles tileset (tileset.json) of each FOLDER into "
                    "DIR/<folder name>/, its top levels the overview's (implies --index "
                    "overview); nothing is written into the tile folders, a viewer sees the old "
                    "tileset until the new one is complete, and a re-run converts only the files "
                    "that changed";
    help.tilesetsQuantize = "store the 3D Tiles contents' vertex attributes as small integers "
                            "(KHR_mesh_quantization): smaller files";
    help.tilesetsB3dm = "write the 3D Tiles contents as b3dm (a glb inside) in a tileset of "
                        "version 1.0, for older viewers that read no glb content";
    help.tilesetsMeshopt = "compress the 3D Tiles contents' vertices and indices with "
                           "meshoptimizer (EXT_meshopt_compression): smaller files";
    help.json = "print the run as one JSON document instead of lines";
    help.quiet = "print errors and warnings only";
    help.progress = "auto (a bar when stderr is a terminal), bar, lines or none";
    help.help = "Print this help message and exit";
    help.version = "Display program version information and exit";
    help.usage = "Usage";
    help.optionsInUsage = "OPTIONS";
    help.options = "Options";
    help.positionals = "Positionals";
    help.required = "REQUIRED";
    return help;
}

std::string UsageLine(Language language, const std::string& problem, bool seeHelp) {
    if (!seeHelp)
        return kProgram + problem;
    return kProgram + problem + (Chinese(language) ? "（见 --help）" : " (see --help)");
}

std::string NoFolderGiven(Language language) {
    return Chinese(language) ? "请至少指定一个要导出的目录（FOLDER）"
                             : "name at least one FOLDER to export";
}

std::string NoSuchOption(Language language, const std::string& option) {
    return Chinese(language) ? Fill("没有选项 '%1'", {option})
                             : "there is no option '" + option + "'";
}

std::string UnexpectedArgument(Language language, const std::string& argument) {
    return Chinese(language) ? Fill("多余的参数 '%1'", {argument})
                             : "unexpected argument '" + argument + "'";
}

std::string NeedsValue(Language language, const std::string& option) {
    return Chinese(language) ? Fill("%1 需要一个值", {option}) : option + " needs a value";
}

std::string BadJobs(Language language, const std::string& value, unsigned maximum) {
    return Chinese(language) ? Fill("--jobs 需要 1 到 %1 之间的整数，而不是 '%2'",
                                    {std::to_string(maximum), value})
                             : "--jobs takes a whole number from 1 to " + std::to_string(maximum) +
                                   ", not '" + value + "'";
}

std::string BadIndexKind(Language language, const std::string& value) {
    return Chinese(language) ? Fill("--index 只能是 proxy、paged 或 overview，而不是 '%1'", {value})
                             : "--index takes proxy, paged or overview, not '" + value + "'";
}

std::string BadProgress(Language language, const std::string& value) {
    return Chinese(language)
               ? Fill("--progress 只能是 auto、bar、lines 或 none，而不是 '%1'", {value})
               : "--progress takes auto, bar, lines or none, not '" + value + "'";
}

std::string TilesetsNeedOverview(Language language, const std::string& kind) {
    return Chinese(language)
               ? Fill("--3dtiles 的顶层取自总览索引，不能与 --index %1 同用", {kind})
               : "--3dtiles takes its top levels from the overview index, so it cannot go with "
                 "--index " +
                     kind;
}

std::string NeedsTilesets(Language language, const std::string& flag) {
    return Chinese(language) ? flag + " 需与 --3dtiles DIR 同用"
                             : flag + " goes with --3dtiles DIR";
}

} // namespace brindle::wording
