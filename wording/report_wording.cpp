#include "wording/report_wording.h"

#include "export/scan/metadata_xml.h"
#include "wording/text.h"

#include <algorithm>
#include <functional>

namespace brindle::wording {
namespace {

std::string Count(std::size_t n) {
    return std::to_string(n);
}

// The root file named in a reason: the one found, else root.osgb.
std::string RootName(const LeftOutSubfolder& leftOut) {
    return leftOut.rootFile.empty() ? "root.osgb" : PathText(leftOut.rootFile);
}

// The folder a file lies in, as the system writes it.
std::string FolderOf(const std::filesystem::path& file) {
    return PathText(file.parent_path());
}

std::string Field(const std::string& label, const std::string& text) {
    return Fill("%1：%2", {label, text});
}

// A memory limit in whole megabytes, rounded up, as the command line has always said it.
std::string Megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

// A time limit in seconds with one decimal, rounded up: the limit is never understated.
std::string SecondsNumber(std::uint64_t milliseconds) {
    const std::uint64_t tenths = (milliseconds + 99) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10)
        text += "." + std::to_string(tenths % 10);
    return text;
}

std::string Seconds(std::uint64_t milliseconds) {
    return SecondsNumber(milliseconds) + " s";
}

// "sentence: cause" or "sentence：cause", depending on whether the system gave a cause.
std::string WithCause(Language language, std::string text, const std::error_code& cause) {
    if (!cause)
        return text;
    if (language == Language::Chinese)
        return Fill("%1：%2", {text, DescribeCause(language, cause)});
    return text + ": " + DescribeCause(language, cause);
}

// The SRS a problem names first, and every block's with its name, as a list.
std::string FirstSrs(const Problem& problem) {
    return problem.srs.empty() ? std::string() : problem.srs.front().srs;
}

// The file whose SRS a problem names first.
std::string SrsFile(const Problem& problem) {
    return problem.srs.empty() ? std::string() : PathText(problem.srs.front().of);
}

std::string SrsList(const Problem& problem, const char* between, const char* separator) {
    std::string list;
    for (const SrsOf& block : problem.srs) {
        if (!list.empty())
            list += separator;
        list += PathText(block.of.filename()) + between +
                (block.srs.empty() ? std::string("-") : block.srs);
    }
    return list;
}

// The sentences of the English command line.

std::string EnglishLoadFailure(LoadFailure failure, const std::string& readerText) {
    switch (failure) {
    case LoadFailure::None:
        break;
    case LoadFailure::EmptyFile:
        return "the file is empty";
    case LoadFailure::NotAScene:
        return "not an OpenSceneGraph scene file";
    case LoadFailure::Truncated:
        return "the file is cut short";
    case LoadFailure::UnknownCompressor:
        return "compressed with a method the reader does not have";
    case LoadFailure::UnsupportedVersion:
        return "written by a newer version of the reader";
    case LoadFailure::ReaderError:
        if (!readerText.empty())
            return "the reader says \"" + readerText + "\"";
        break;
    }
    return "the reader gave no reason";
}

std::string EnglishReasonBriefly(TileStatus reason) {
    switch (reason) {
    case TileStatus::Valid:
        return "listed";
    case TileStatus::NoRootFile:
        return "no root file";
    case TileStatus::NotRegularFile:
        return "root file not a regular file";
    case TileStatus::LoadFailed:
        return "failed to load";
    case TileStatus::ReaderCrashed:
        return "crashed the reader";
    case TileStatus::TimedOut:
        return "timed out";
    case TileStatus::OutOfMemory:
        return "out of memory";
    case TileStatus::UnsafeName:
        return "unsafe name";
    case TileStatus::LinksBack:
        return "leading back to the folder";
    case TileStatus::Cycle:
        return "naming itself in a cycle";
    case TileStatus::BlockNotWritten:
        return "block not written";
    }
    return "left out";
}

std::string EnglishLeftOut(const LeftOutSubfolder& leftOut) {
    switch (leftOut.reason) {
    case TileStatus::Valid:
        return "listed";
    case TileStatus::NoRootFile:
        return "no root.osgb or " + PathText(leftOut.name) + ".osgb in it";
    case TileStatus::NotRegularFile:
        return RootName(leftOut) + " is not a regular file";
    case TileStatus::LoadFailed:
        if (leftOut.loadFailure != LoadFailure::None)
            return RootName(leftOut) + " failed to load: " +
                   EnglishLoadFailure(leftOut.loadFailure, leftOut.readerText);
        return WithCause(Language::English, RootName(leftOut) + " failed to load", leftOut.cause);
    case TileStatus::ReaderCrashed:
        return RootName(leftOut) + " crashed the reader";
    case TileStatus::TimedOut:
        return RootName(leftOut) + " took longer than " + Seconds(leftOut.limit) + " to load";
    case TileStatus::OutOfMemory:
        return RootName(leftOut) + " needed more than " + Megabytes(leftOut.limit) + " to load";
    case TileStatus::UnsafeName:
        return "its name holds a backslash or a control character";
    case TileStatus::LinksBack:
        return "it leads back to the listed folder";
    case TileStatus::Cycle:
        return RootName(leftOut) + " names files to load that lead back to themselves; a "
                                   "viewer would load it without end";
    case TileStatus::BlockNotWritten:
        return "the block's own index was not written";
    }
    return "left out";
}

std::string EnglishOverviewHole(const OverviewHole& hole) {
    switch (hole.reason) {
    case SummaryFailure::NoSurface:
        return "its coarsest level draws no triangle seen from above";
    case SummaryFailure::TooLarge:
        return "its coarsest level holds more than an overview reads";
    case SummaryFailure::OutOfMemory:
        return "summarizing it reached the memory ceiling";
    case SummaryFailure::Crashed:
        return "the reader crashed while summarizing it";
    case SummaryFailure::TimedOut:
        return "summarizing it took too long";
    case SummaryFailure::Unreadable:
        return WithCause(Language::English, "it could not be read again", hole.cause);
    }
    return "no summary could be made of it";
}

std::string EnglishProblem(const Problem& problem) {
    const std::string path = PathText(problem.path);
    const auto withCause = [&problem](std::string text) {
        return WithCause(Language::English, std::move(text), problem.cause);
    };
    switch (problem.kind) {
    case ProblemKind::FolderMissing:
        return path + ": folder does not exist";
    case ProblemKind::NotAFolder:
        return path + ": not a folder";
    case ProblemKind::FolderUnreadable:
        return withCause(path + ": cannot be read");
    case ProblemKind::WriteFailed:
        return withCause(path + ": cannot be written");
    case ProblemKind::NoIndexWriter:
        return path + ": cannot be written: no .osgb writer plugin is installed";
    case ProblemKind::WorkersUnavailable:
        return withCause(path + ": the tile-check worker cannot be started");
    case ProblemKind::ExistingHoldsScene:
        return path + ": is a model (scene data), not an index, so it was kept; this looks like "
                      "a tile folder: list its parent folder instead";
    case ProblemKind::ExistingUnreadable:
        return withCause(path + ": could not be read, so it was kept (use --force to replace it)");
    case ProblemKind::NoTilesKeptIndex:
        return path + ": no subfolder holds a loadable root.osgb; the existing index was kept "
                      "(use --force to replace it)";
    case ProblemKind::ReportUnreadable:
        return withCause(path + ": cannot be read; translation left unchanged");
    case ProblemKind::ReportNotRegularFile:
        return path + ": not a regular file; translation left unchanged";
    case ProblemKind::ReportNoSecondLine:
        return path + ": has no second line with the origin; translation left unchanged";
    case ProblemKind::ReportNoOrigin:
        return path + ": line 2 holds no origin of the form \"X: <x> Y: <y> Z: <z>\" (no "
                      "capital Y, or no number where X or Y starts); translation left unchanged";
    case ProblemKind::ReportOriginNotFinite:
        return path + ": line 2 gives an X or Y that is infinite or not a number; translation "
                      "left unchanged";
    case ProblemKind::IndexNotFlushed:
        return withCause(path + ": written, but its folder could not be flushed to disk, so a "
                                "power cut now could lose the new index");
    case ProblemKind::NoTilesFound:
        return path + ": no subfolder holds a root.osgb or <name>.osgb that loads, so no index "
                      "was written (use --force to write an empty one)";
    case ProblemKind::NoTilesLooksLikeTile:
        return path + ": no subfolder holds a tile, and the folder holds .osgb files itself: it "
                      "looks like a tile folder, one level too low; list its parent folder "
                      "instead. No index was written";
    case ProblemKind::NoTilesOneLevelTooHigh:
        return path + ": no subfolder holds a tile, but their subfolders do: the folder is one "
                      "level too high; list the folders inside it instead. No index was written";
    case ProblemKind::MetadataUnreadable:
        return withCause(path + ": cannot be read; translation left unchanged");
    case ProblemKind::MetadataNotRegularFile:
        return path + ": not a regular file; translation left unchanged";
    case ProblemKind::MetadataTooLarge:
        return path + ": larger than 1 MB, so not a metadata file; translation left unchanged";
    case ProblemKind::MetadataNotXml:
        return path + ": not well-formed XML; translation left unchanged";
    case ProblemKind::MetadataNoOrigin:
        return path + ": has no <SRSOrigin>; translation left unchanged";
    case ProblemKind::MetadataBadOrigin:
        return path + ": <SRSOrigin> is not \"x,y,z\" in finite numbers; translation left "
                      "unchanged";
    case ProblemKind::RootNamesDifferInCase:
        return path + ": listed; the tile folder holds other files by this name in other letter "
                      "case, which Windows cannot tell apart";
    case ProblemKind::NamesDifferInCase:
        return path + ": read; its folder holds other files by this name in other letter case, "
                      "which Windows cannot tell apart";
    case ProblemKind::CacheFolderIsLink:
        return path + ": the verdict cache folder is a symbolic link, so it was not used; every "
                      "tile was checked";
    case ProblemKind::CacheFolderNotOwned:
        return path + ": the verdict cache folder belongs to another user, so it was not used; "
                      "every tile was checked";
    case ProblemKind::CacheFolderOpenToOthers:
        return path + ": others may write into the verdict cache folder, so it was not used; "
                      "every tile was checked";
    case ProblemKind::CacheFolderUnusable:
        return withCause(path + ": the verdict cache folder cannot be used, so every tile was "
                                "checked and re-runs will not be faster");
    case ProblemKind::CacheNotWritten:
        return withCause(path + ": the verdict cache cannot be written, so the next run will "
                                "check these tiles again");
    case ProblemKind::MetadataGeographicSrs:
        return path + ": SRS " + FirstSrs(problem) +
               " is geographic (degrees), so <SRSOrigin> is no translation in metres; no index "
               "was written (use --force to write it as one all the same)";
    case ProblemKind::MetadataGeographicSrsForced:
        return path + ": SRS " + FirstSrs(problem) +
               " is geographic (degrees); <SRSOrigin> was written as a translation in metres "
               "all the same, so the tiles may lie far from their place";
    case ProblemKind::SrsLibraryMissing:
        return path + ": the projection library cannot be loaded, so SRS " + FirstSrs(problem) +
               " of " + SrsFile(problem) +
               " cannot be identified; no index was written (install PROJ, which provides " + path +
               ")";
    case ProblemKind::BlocksSrsDiffer:
        return path + ": its blocks are in different spatial references (" +
               SrsList(problem, ": ", "; ") + "), so their indexes do not line up when combined";
    case ProblemKind::OverviewNotWritten:
        return withCause(path + ": the overview levels cannot be written there, so no index "
                                "was written");
    case ProblemKind::OldOverviewKept:
        return withCause(path + ": the old overview the new index replaced cannot be removed; "
                                "no index uses it now, and the next run removes it");
    case ProblemKind::FolderBusy:
        return path + ": another run is exporting this folder, so this run left it as it was";
    }
    return path;
}

std::string EnglishBrokenEntry(const IndexEntryCheck& entry) {
    if (entry.tooDeep)
        return "names levels deeper than any overview has";
    switch (entry.status) {
    case TileStatus::Valid:
        return "loads";
    case TileStatus::NoRootFile:
        return "names a missing file";
    case TileStatus::NotRegularFile:
        return "names a folder or other file that is not a regular file";
    case TileStatus::LoadFailed:
        if (entry.loadFailure != LoadFailure::None)
            return "failed to load: " + EnglishLoadFailure(entry.loadFailure, entry.readerText);
        return WithCause(Language::English, "failed to load", entry.cause);
    case TileStatus::ReaderCrashed:
        return "crashed the reader";
    case TileStatus::TimedOut:
        return "took longer than " + Seconds(entry.limit) + " to load";
    case TileStatus::OutOfMemory:
        return "needed more than " + Megabytes(entry.limit) + " to load";
    case TileStatus::Cycle:
        return "names files to load that lead back to themselves";
    case TileStatus::UnsafeName:
    case TileStatus::LinksBack:
    case TileStatus::BlockNotWritten:
        break;
    }
    return "broken";
}

std::string EnglishVerifyProblem(const Problem& problem) {
    const std::string path = PathText(problem.path);
    switch (problem.kind) {
    case ProblemKind::ExistingUnreadable:
        if (problem.cause == std::errc::no_such_file_or_directory)
            return path + ": there is no index to check";
        return WithCause(Language::English, path + ": the index cannot be read", problem.cause);
    case ProblemKind::ExistingHoldsScene:
        return path + ": holds scene data, not an index";
    default:
        return EnglishProblem(problem);
    }
}

// The Chinese sentences, the dialogs' and the command line's.

std::string ChineseLoadFailure(LoadFailure failure, const std::string& readerText) {
    switch (failure) {
    case LoadFailure::None:
        break;
    case LoadFailure::EmptyFile:
        return "文件为空";
    case LoadFailure::NotAScene:
        return "不是 OSG 场景文件";
    case LoadFailure::Truncated:
        return "文件被截断";
    case LoadFailure::UnknownCompressor:
        return "使用了读取程序没有的压缩方式";
    case LoadFailure::UnsupportedVersion:
        return "由更新版本的读取程序写入";
    case LoadFailure::ReaderError:
        if (!readerText.empty())
            return readerText;
        break;
    }
    return "原因不明";
}

std::string ChineseReasonBriefly(TileStatus reason) {
    switch (reason) {
    case TileStatus::Valid:
        return "已收录";
    case TileStatus::NoRootFile:
        return "无根文件";
    case TileStatus::NotRegularFile:
        return "根文件不是普通文件";
    case TileStatus::LoadFailed:
        return "无法加载";
    case TileStatus::ReaderCrashed:
        return "读取时崩溃";
    case TileStatus::TimedOut:
        return "加载超时";
    case TileStatus::OutOfMemory:
        return "内存超限";
    case TileStatus::UnsafeName:
        return "名称不安全";
    case TileStatus::LinksBack:
        return "指回所列目录";
    case TileStatus::Cycle:
        return "循环引用";
    case TileStatus::BlockNotWritten:
        return "分块索引未写入";
    }
    return "未收录";
}

std::string ChineseLeftOut(const LeftOutSubfolder& leftOut) {
    switch (leftOut.reason) {
    case TileStatus::Valid:
        return "有效";
    case TileStatus::NoRootFile:
        return Fill("无 root.osgb，也无 %1.osgb", {PathText(leftOut.name)});
    case TileStatus::NotRegularFile:
        return Fill("%1 不是普通文件", {RootName(leftOut)});
    case TileStatus::LoadFailed:
        if (leftOut.loadFailure != LoadFailure::None)
            return Fill(
                "%1 无法加载（%2）",
                {RootName(leftOut), ChineseLoadFailure(leftOut.loadFailure, leftOut.readerText)});
        return leftOut.cause
                   ? Fill("%1 无法加载（%2）",
                          {RootName(leftOut), DescribeCause(Language::Chinese, leftOut.cause)})
                   : Fill("%1 无法加载", {RootName(leftOut)});
    case TileStatus::ReaderCrashed:
        return Fill("读取 %1 时崩溃", {RootName(leftOut)});
    case TileStatus::TimedOut:
        return Fill("%1 加载超过 %2 秒", {RootName(leftOut), SecondsNumber(leftOut.limit)});
    case TileStatus::OutOfMemory:
        return Fill("%1 加载需要超过 %2 内存", {RootName(leftOut), Megabytes(leftOut.limit)});
    case TileStatus::UnsafeName:
        return "名称含反斜杠或控制字符";
    case TileStatus::LinksBack:
        return "指回所列目录";
    case TileStatus::Cycle:
        return Fill("%1 引用的文件循环指回自身，查看器会无休止地加载", {RootName(leftOut)});
    case TileStatus::BlockNotWritten:
        return "该分块的索引未写入";
    }
    return {};
}

std::string ChineseOverviewHole(const OverviewHole& hole) {
    switch (hole.reason) {
    case SummaryFailure::NoSurface:
        return "最粗一级从上方看不到任何三角面";
    case SummaryFailure::TooLarge:
        return "最粗一级的数据量超出总览可读取的上限";
    case SummaryFailure::OutOfMemory:
        return "生成总览时内存超限";
    case SummaryFailure::Crashed:
        return "生成总览时读取程序崩溃";
    case SummaryFailure::TimedOut:
        return "生成总览超时";
    case SummaryFailure::Unreadable:
        return WithCause(Language::Chinese, "无法再次读取该瓦片", hole.cause);
    }
    return "无法生成总览";
}

// Who reads a Chinese sentence. The command line's user overrides a refusal with --force, and
// is told so as the English says it; a dialog's user was asked instead, and is asked again.
enum class Reader { CommandLine, Dialog };

std::string ChineseProblem(const Problem& problem, Reader reader) {
    const std::string path = PathText(problem.path);
    const auto with = [&](const char* sentence) {
        return WithCause(Language::Chinese, Fill(sentence, {path}), problem.cause);
    };
    // The refusal, then how --force overrides it.
    const auto refused = [&](std::string sentence, const char* force) {
        return reader == Reader::CommandLine ? Fill("%1；%2", {sentence, force}) : sentence;
    };
    switch (problem.kind) {
    case ProblemKind::FolderMissing:
        return with("目录 %1 不存在");
    case ProblemKind::NotAFolder:
        return with("%1 不是目录");
    case ProblemKind::FolderUnreadable:
        return with("无法读取目录 %1");
    case ProblemKind::WriteFailed:
        return with("无法写入 %1");
    case ProblemKind::NoIndexWriter:
        return with("无法写入 %1：场景库缺少 .osgb 写入插件");
    case ProblemKind::WorkersUnavailable:
        return with("无法启动子目录检查程序 %1");
    case ProblemKind::ExistingHoldsScene:
        return with(
            "已有的 %1 是模型数据，不是索引，已保留。此目录像是瓦片目录，请改为列出它的上一级目录");
    case ProblemKind::ExistingUnreadable:
        return refused(problem.cause ? Fill("无法读取已有的 %1（%2），未替换",
                                            {path, DescribeCause(Language::Chinese, problem.cause)})
                                     : Fill("无法读取已有的 %1，未替换", {path}),
                       "使用 --force 可替换它");
    case ProblemKind::NoTilesKeptIndex:
        return refused(with("没有任何子目录含可加载的 root.osgb，保留了已有的 %1"),
                       "使用 --force 可替换它");
    case ProblemKind::ReportUnreadable:
        return with("无法读取 %1，平移未更新");
    case ProblemKind::ReportNotRegularFile:
        return with("%1 不是普通文件，平移未更新");
    case ProblemKind::ReportNoSecondLine:
        return with("%1 没有写有原点的第 2 行，平移未更新");
    case ProblemKind::ReportNoOrigin:
        return with("%1 的第 2 行没有“X: <x> Y: <y> Z: <z>”形式的原点坐标（没有大写 Y，或 X、Y "
                    "之后不是数字），平移未更新");
    case ProblemKind::ReportOriginNotFinite:
        return with("%1 的第 2 行中 X 或 Y 为无穷大或非数值，平移未更新");
    case ProblemKind::IndexNotFlushed:
        return with("已写入 %1，但未能把所在目录刷新到磁盘，此时断电可能丢失新索引");
    case ProblemKind::NoTilesFound:
        return refused(
            with("%1 中没有任何子目录含可加载的 root.osgb 或 <子目录名>.osgb，未写入索引"),
            "使用 --force 可写入空索引");
    case ProblemKind::NoTilesLooksLikeTile:
        return with("%1 中没有任何子目录含瓦片，但它自身含 .osgb 文件，像是瓦片目录"
                    "（低了一级）；请改为列出它的上一级目录。未写入索引");
    case ProblemKind::NoTilesOneLevelTooHigh:
        return with("%1 中没有任何子目录含瓦片，但再下一级的目录含瓦片，目录高了一级；"
                    "请改为列出其中的目录。未写入索引");
    case ProblemKind::MetadataUnreadable:
        return with("无法读取 %1，平移未更新");
    case ProblemKind::MetadataNotRegularFile:
        return with("%1 不是普通文件，平移未更新");
    case ProblemKind::MetadataTooLarge:
        return with("%1 超过 1 MB，不是元数据文件，平移未更新");
    case ProblemKind::MetadataNotXml:
        return with("%1 不是有效的 XML，平移未更新");
    case ProblemKind::MetadataNoOrigin:
        return with("%1 中没有 SRSOrigin，平移未更新");
    case ProblemKind::MetadataBadOrigin:
        return with("%1 的 SRSOrigin 不是“x,y,z”形式的三个有限数值，平移未更新");
    case ProblemKind::RootNamesDifferInCase:
        return with("已列入 %1；该瓦片目录中还有仅大小写不同的同名文件，Windows 无法区分");
    case ProblemKind::NamesDifferInCase:
        return with("已读取 %1；所在目录中还有仅大小写不同的同名文件，Windows 无法区分");
    case ProblemKind::CacheFolderIsLink:
        return with("校验缓存目录 %1 是符号链接，未使用；所有瓦片均已重新检查");
    case ProblemKind::CacheFolderNotOwned:
        return with("校验缓存目录 %1 属于其他用户，未使用；所有瓦片均已重新检查");
    case ProblemKind::CacheFolderOpenToOthers:
        return with("其他用户可写入校验缓存目录 %1，未使用；所有瓦片均已重新检查");
    case ProblemKind::CacheFolderUnusable:
        return with("无法使用校验缓存目录 %1，所有瓦片均已重新检查，再次导出不会加快");
    case ProblemKind::CacheNotWritten:
        return with("无法写入校验缓存 %1，下次导出将重新检查这些瓦片");
    case ProblemKind::MetadataGeographicSrs:
        return refused(
            Fill("%1 的坐标系 %2 是地理坐标系（单位为度），SRSOrigin 不能作为以米为单位的平移，"
                 "未写入索引",
                 {path, FirstSrs(problem)}),
            "使用 --force 可仍按平移写入");
    case ProblemKind::MetadataGeographicSrsForced:
        return Fill(
            "%1 的坐标系 %2 是地理坐标系（单位为度），但 SRSOrigin 仍按以米为单位的平移写入，"
            "瓦片可能远离实际位置",
            {path, FirstSrs(problem)});
    case ProblemKind::SrsLibraryMissing:
        return Fill("无法加载投影库 %1，无法识别 %2 中的坐标系 %3，未写入索引（请安装提供 %1 "
                    "的 PROJ）",
                    {path, SrsFile(problem), FirstSrs(problem)});
    case ProblemKind::BlocksSrsDiffer:
        return Fill("%1 中各分块的坐标系不同（%2），合并后彼此对不齐",
                    {path, SrsList(problem, "：", "；")});
    case ProblemKind::OverviewNotWritten:
        return with("无法在 %1 中写入总览层级，因此未写入索引");
    case ProblemKind::OldOverviewKept:
        return with("已写入新索引，但无法删除被替换的旧总览目录 %1；它已不属于任何索引，"
                    "下次导出时会删除");
    case ProblemKind::FolderBusy:
        return with("另一个导出正在处理 %1，本次导出未改动该目录");
    }
    return path;
}

std::string ChineseCause(const std::error_code& cause) {
    // The common causes in the user's words; the comparison goes through the portable
    // conditions, so Windows error numbers match as well.
    struct Known {
        std::errc condition;
        const char* text;
    };
    static const Known known[] = {
        {std::errc::no_such_file_or_directory, "文件或目录不存在"},
        {std::errc::permission_denied, "权限不足"},
        {std::errc::operation_not_permitted, "权限不足"},
        {std::errc::no_space_on_device, "磁盘空间不足"},
        {std::errc::read_only_file_system, "只读文件系统"},
        {std::errc::not_a_directory, "路径中有一项不是目录"},
        {std::errc::is_a_directory, "是一个目录"},
        {std::errc::file_exists, "文件已存在"},
        {std::errc::directory_not_empty, "目录不为空"},
        {std::errc::filename_too_long, "文件名过长"},
        {std::errc::too_many_symbolic_link_levels, "符号链接层数过多"},
        {std::errc::io_error, "输入/输出错误（磁盘或网络故障）"},
        {std::errc::device_or_resource_busy, "设备或资源忙"},
        {std::errc::not_enough_memory, "内存不足"},
        {std::errc::file_too_large, "文件过大"},
        {std::errc::too_many_files_open, "打开的文件过多"},
        {std::errc::too_many_files_open_in_system, "打开的文件过多"},
        {std::errc::cross_device_link, "不能跨磁盘移动文件"},
        {std::errc::timed_out, "操作超时"},
        {std::errc::invalid_argument, "参数无效"},
        {std::errc::no_such_device, "设备不存在"},
    };
    for (const Known& entry : known)
        if (cause == entry.condition)
            return entry.text;
    // Anything rarer in the system's own words, which follow the system's language.
    return SystemText(cause.message());
}

std::string ChineseBrokenEntry(const IndexEntryCheck& entry) {
    if (entry.tooDeep)
        return "引用的总览层级比任何总览都深";
    switch (entry.status) {
    case TileStatus::Valid:
        return "可以加载";
    case TileStatus::NoRootFile:
        return "指向的文件不存在";
    case TileStatus::NotRegularFile:
        return "指向目录或其他非普通文件";
    case TileStatus::LoadFailed:
        if (entry.loadFailure != LoadFailure::None)
            return Fill("无法加载（%1）",
                        {ChineseLoadFailure(entry.loadFailure, entry.readerText)});
        return entry.cause ? Fill("无法加载（%1）", {ChineseCause(entry.cause)}) : "无法加载";
    case TileStatus::ReaderCrashed:
        return "读取时崩溃";
    case TileStatus::TimedOut:
        return Fill("加载超过 %1 秒", {SecondsNumber(entry.limit)});
    case TileStatus::OutOfMemory:
        return Fill("加载需要超过 %1 内存", {Megabytes(entry.limit)});
    case TileStatus::Cycle:
        return "引用的文件循环指回自身";
    case TileStatus::UnsafeName:
    case TileStatus::LinksBack:
    case TileStatus::BlockNotWritten:
        break;
    }
    return "已损坏";
}

std::string ChineseVerifyProblem(const Problem& problem) {
    const std::string path = PathText(problem.path);
    switch (problem.kind) {
    case ProblemKind::ExistingUnreadable:
        if (problem.cause == std::errc::no_such_file_or_directory)
            return Fill("%1 不存在，没有可检查的索引", {path});
        return WithCause(Language::Chinese, Fill("无法读取索引 %1", {path}), problem.cause);
    case ProblemKind::ExistingHoldsScene:
        return Fill("%1 是模型数据，不是索引", {path});
    default:
        return ChineseProblem(problem, Reader::CommandLine);
    }
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
        text.error = ChineseProblem(*folder.error, Reader::Dialog);
    for (const Problem& warning : folder.warnings)
        text.warnings.push_back(ChineseProblem(warning, Reader::Dialog));
    for (const std::filesystem::path& tile : folder.recheckedTiles)
        text.warnings.push_back(
            Fill("子目录 %1 超出内存上限，已单独用更多内存重新检查", {PathText(tile)}));
    text.leftOut.reserve(folder.leftOut.size());
    for (const LeftOutSubfolder& leftOut : folder.leftOut)
        text.leftOut.push_back({PathText(leftOut.name), ChineseLeftOut(leftOut)});
    text.overviewHoles.reserve(folder.overviewHoles.size());
    for (const OverviewHole& hole : folder.overviewHoles)
        text.overviewHoles.push_back({PathText(hole.name), ChineseOverviewHole(hole)});
    if (!folder.master.empty())
        text.master = PathText(folder.master);
    return text;
}

std::size_t OverviewHoleCount(const ExportReport& report) {
    std::size_t holes = 0;
    for (const FolderReport& folder : report.folders)
        holes += folder.overviewHoles.size();
    return holes;
}

std::string IndexKindName(IndexKind kind) {
    switch (kind) {
    case IndexKind::Proxy:
        return "代理索引";
    case IndexKind::Paged:
        return "分页索引";
    case IndexKind::Overview:
        return "总览索引";
    }
    return "索引";
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

std::string DescribeLeftOut(Language language, const LeftOutSubfolder& leftOut) {
    return language == Language::Chinese ? ChineseLeftOut(leftOut) : EnglishLeftOut(leftOut);
}

std::string DescribeReasonBriefly(Language language, TileStatus reason) {
    return language == Language::Chinese ? ChineseReasonBriefly(reason)
                                         : EnglishReasonBriefly(reason);
}

std::string DescribeLoadFailure(Language language, LoadFailure failure,
                                const std::string& readerText) {
    return language == Language::Chinese ? ChineseLoadFailure(failure, readerText)
                                         : EnglishLoadFailure(failure, readerText);
}

std::string DescribeOverviewHole(Language language, const OverviewHole& hole) {
    return language == Language::Chinese ? ChineseOverviewHole(hole) : EnglishOverviewHole(hole);
}

std::string DescribeProblem(Language language, const Problem& problem) {
    return language == Language::Chinese ? ChineseProblem(problem, Reader::CommandLine)
                                         : EnglishProblem(problem);
}

std::string LocalFrameNote(Language language) {
    return language == Language::Chinese ? "局部坐标系，保留自身坐标，未放到地图坐标中"
                                         : "local frame: it stays in its own coordinates, not "
                                           "placed in map coordinates";
}

std::string DescribeCause(Language language, const std::error_code& cause) {
    if (!cause)
        return {};
    return language == Language::Chinese ? ChineseCause(cause) : SystemText(cause.message());
}

std::string DescribeBrokenEntry(Language language, const IndexEntryCheck& entry) {
    return language == Language::Chinese ? ChineseBrokenEntry(entry) : EnglishBrokenEntry(entry);
}

std::string DescribeVerifyProblem(Language language, const Problem& problem) {
    return language == Language::Chinese ? ChineseVerifyProblem(problem)
                                         : EnglishVerifyProblem(problem);
}

ReportText DescribeReport(const ExportReport& report) {
    ReportText text;
    text.succeeded = report.succeeded() && !report.cancelled;
    text.headline = text.succeeded ? "导出成功" : "导出未完成";
    text.summary = Summarize(report);
    for (const Problem& warning : report.warnings)
        text.warnings.push_back(ChineseProblem(warning, Reader::Dialog));
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
                               {PathText(folder.indexFile), IndexKindName(folder.index),
                                Count(folder.entries.size())});
        if (!text.folders[i].translation.empty())
            details += "\n" + Fill("    平移 %1", {text.folders[i].translation});
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

std::string DescribeStatus(FolderStatus status) {
    switch (status) {
    case FolderStatus::Written:
        return "已写入";
    case FolderStatus::DryRun:
        return "试运行，未写入";
    case FolderStatus::Failed:
        return "失败";
    case FolderStatus::Cancelled:
        return "已取消，未写入";
    case FolderStatus::ListedTwice:
        return "重复列出，未再导出";
    }
    return {};
}

std::string DescribeOrigin(const FolderReport& folder) {
    switch (folder.originSource) {
    case OriginSource::ThisFolder:
        return "来自本目录的 report.txt";
    case OriginSource::CarriedOver:
        return Fill("沿用目录 %1 的 %2",
                    {FolderOf(folder.originReport), PathText(folder.originReport.filename())});
    case OriginSource::None:
        return "尚未读到 report.txt，使用零平移";
    case OriginSource::Metadata:
        return Fill("来自 %1", {PathText(folder.originReport)});
    case OriginSource::Blocks:
        return "分块目录不平移，各分块的索引自带平移";
    }
    return {};
}

std::string DescribeTranslation(const osg::Vec3d& translation) {
    return Fill("(%1, %2, %3)", {ExactNumber(translation.x()), ExactNumber(translation.y()),
                                 ExactNumber(translation.z())});
}

std::string ReplaceQuestion(const Problem& why) {
    const std::string folder = FolderOf(why.path);
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
                    {folder, why.cause ? ChineseCause(why.cause) : "原因不明"});
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
