#include "report_text_win.h"

#include <functional>

#include <windows.h>

#include <charconv>
#include <cstdio>

namespace brindle::win32 {

namespace {

// The sentences below are UTF-8 in the source; every one passes through here.
std::wstring T(const char* utf8) {
    return WideFromUtf8(utf8);
}

std::wstring Number(std::size_t value) {
    return std::to_wstring(value);
}

// A limit in larger units, as short as it can be said: 20, 20.5.
std::wstring ShortNumber(double value) {
    wchar_t text[64];
    std::swprintf(text, 64, L"%.1f", value);
    std::wstring result = text;
    if (result.size() > 2 && result.compare(result.size() - 2, 2, L".0") == 0)
        result.resize(result.size() - 2);
    return result;
}

// The tile's root file as found, else root.osgb.
std::wstring RootName(const LeftOutSubfolder& leftOut) {
    return leftOut.rootFile.empty() ? T("root.osgb") : NativePathText(leftOut.rootFile);
}

// The folder a file lies in, as the system writes it.
std::wstring FolderOf(const std::filesystem::path& file) {
    return NativePathText(file.parent_path());
}

std::wstring WithCause(const std::wstring& sentence, const std::error_code& cause) {
    if (!cause)
        return sentence;
    return Fill(T("%1：%2"), {sentence, ReportWording::cause(cause)});
}

FolderText DescribeFolder(const FolderReport& folder) {
    FolderText text;
    text.folder = NativePathText(folder.folder);
    text.status = ReportWording::status(folder.status);
    // A repeat's index is its first listing's; it is told apart, not marked as failed.
    text.ok = folder.status == FolderStatus::Written || folder.status == FolderStatus::DryRun ||
              folder.status == FolderStatus::ListedTwice;
    if (folder.status == FolderStatus::ListedTwice)
        text.warnings.push_back(
            Fill(T("与 %1 是同一目录，只在那里导出一次"), {NativePathText(folder.firstListing)}));
    else if (text.ok) {
        text.entries = Number(folder.entries.size());
        if (folder.index == IndexKind::Paged)
            text.entries = folder.proxyLeaves.empty()
                               ? Fill(T("%1（分页索引）"), {text.entries})
                               : Fill(T("%1（分页索引，其中 %2 个范围未知，打开时即加载）"),
                                      {text.entries, Number(folder.proxyLeaves.size())});
        text.translation = Fill(T("%1，%2"), {ReportWording::translation(folder.translation),
                                              ReportWording::origin(folder)});
        if (!folder.srs.empty())
            text.translation =
                Fill(T("%1，坐标系 %2"), {text.translation, WideFromUtf8(folder.srs)});
    }
    if (!folder.master.empty())
        text.master = NativePathText(folder.master);
    if (folder.error)
        text.error = ReportWording::problem(*folder.error);
    for (const Problem& warning : folder.warnings)
        text.warnings.push_back(ReportWording::problem(warning));
    for (const std::filesystem::path& tile : folder.recheckedTiles)
        text.warnings.push_back(
            Fill(T("子目录 %1 超出内存上限，已单独用更多内存重新检查"), {tile.wstring()}));
    text.leftOut.reserve(folder.leftOut.size());
    for (const LeftOutSubfolder& leftOut : folder.leftOut)
        text.leftOut.emplace_back(leftOut.name.wstring(), ReportWording::leftOutReason(leftOut));
    return text;
}

std::wstring Summarize(const ExportReport& report) {
    std::size_t written = 0, dryRun = 0, failed = 0, cancelled = 0, listedTwice = 0, leftOut = 0,
                warnings = 0;
    for (const FolderReport& folder : report.folders) {
        written += folder.status == FolderStatus::Written;
        dryRun += folder.status == FolderStatus::DryRun;
        failed += folder.status == FolderStatus::Failed;
        cancelled += folder.status == FolderStatus::Cancelled;
        listedTwice += folder.status == FolderStatus::ListedTwice;
        leftOut += folder.leftOut.size();
        warnings += folder.warnings.size();
    }
    if (report.folders.empty())
        return T("没有列出目录。");
    std::vector<std::wstring> parts;
    if (written > 0 || dryRun == 0)
        parts.push_back(Fill(T("已写入 %1 个目录"), {Number(written)}));
    if (dryRun > 0)
        parts.push_back(Fill(T("试运行 %1 个目录，未写入"), {Number(dryRun)}));
    if (failed > 0)
        parts.push_back(Fill(T("%1 个目录失败"), {Number(failed)}));
    if (cancelled > 0)
        parts.push_back(Fill(T("%1 个目录因取消未写入"), {Number(cancelled)}));
    if (listedTwice > 0)
        parts.push_back(Fill(T("%1 个目录重复列出"), {Number(listedTwice)}));
    if (leftOut > 0)
        parts.push_back(Fill(T("%1 个子目录未收录"), {Number(leftOut)}));
    if (warnings > 0)
        parts.push_back(Fill(T("%1 条警告"), {Number(warnings)}));
    std::wstring summary;
    for (std::size_t i = 0; i < parts.size(); ++i)
        summary += (i > 0 ? T("，") : std::wstring()) + parts[i];
    summary += T("。");
    if (failed > 0 || cancelled > 0)
        summary += T("排除原因后可再按“确定”重新导出。");
    return summary;
}

} // namespace

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::wstring WideFromCodePage(const std::string& text) {
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::wstring NativePathText(const std::filesystem::path& path) {
    std::filesystem::path native = path;
    native.make_preferred();
    return native.wstring();
}

std::wstring Fill(const std::wstring& pattern, const std::vector<std::wstring>& args) {
    std::wstring result;
    result.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == L'%' && i + 1 < pattern.size() && pattern[i + 1] >= L'1' &&
            pattern[i + 1] <= L'9') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - L'1');
            if (index < args.size()) {
                result += args[index];
                ++i;
                continue;
            }
        }
        result += pattern[i];
    }
    return result;
}

ReportText ReportWording::describe(const ExportReport& report) {
    ReportText text;
    text.succeeded = report.succeeded() && !report.cancelled;
    text.headline = text.succeeded ? T("导出成功") : T("导出未完成");
    text.summary = Summarize(report);
    text.folders.reserve(report.folders.size());
    for (const FolderReport& folder : report.folders)
        text.folders.push_back(DescribeFolder(folder));
    return text;
}

std::wstring ReportWording::plainText(const ReportText& text) {
    const std::wstring field = T("%1：%2");
    const std::wstring indent = L"  ";
    std::vector<std::wstring> lines{text.headline, text.summary};
    const auto& folders = text.folders;
    // The folder of blocks that `i` belongs to: the first later folder its master names.
    const auto masterOf = [&](std::size_t i) {
        for (std::size_t j = i + 1; j < folders.size() && !folders[i].master.empty(); ++j)
            if (folders[j].folder == folders[i].master)
                return j;
        return folders.size();
    };
    // A folder of blocks is followed by its blocks, indented one step further.
    std::function<void(std::size_t, const std::wstring&)> addFolder =
        [&](std::size_t i, const std::wstring& outer) {
            const FolderText& folder = folders[i];
            const std::wstring in = outer + indent;
            lines.emplace_back();
            lines.push_back(outer +
                            Fill(field, {outer.empty() ? T("目录") : T("分块"), folder.folder}));
            lines.push_back(in + Fill(field, {T("状态"), folder.status}));
            if (!folder.entries.empty())
                lines.push_back(in + Fill(field, {T("条目数"), folder.entries}));
            if (!folder.translation.empty())
                lines.push_back(in + Fill(field, {T("平移与来源"), folder.translation}));
            if (!folder.error.empty())
                lines.push_back(in + Fill(field, {T("错误"), folder.error}));
            for (const std::wstring& warning : folder.warnings)
                lines.push_back(in + Fill(field, {T("警告"), warning}));
            if (!folder.leftOut.empty()) {
                lines.push_back(in + leftOutGroup(folder.leftOut.size()) + T("："));
                for (const auto& [name, reason] : folder.leftOut)
                    lines.push_back(in + indent + Fill(field, {name, reason}));
            }
            for (std::size_t b = 0; b < i; ++b)
                if (masterOf(b) == i)
                    addFolder(b, in);
        };
    for (std::size_t i = 0; i < folders.size(); ++i)
        if (masterOf(i) == folders.size())
            addFolder(i, {});
    std::wstring joined;
    for (const std::wstring& line : lines)
        joined += line + L"\r\n";
    return joined;
}

std::wstring ReportWording::leftOutGroup(std::size_t count) {
    return Fill(T("未收录的子目录（%1 个）"), {Number(count)});
}

std::wstring ReportWording::status(FolderStatus status) {
    switch (status) {
    case FolderStatus::Written:
        return T("已写入");
    case FolderStatus::DryRun:
        return T("试运行，未写入");
    case FolderStatus::Failed:
        return T("失败");
    case FolderStatus::Cancelled:
        return T("已取消，未写入");
    case FolderStatus::ListedTwice:
        return T("重复列出，未再导出");
    }
    return {};
}

std::wstring ReportWording::leftOutReason(const LeftOutSubfolder& leftOut) {
    switch (leftOut.reason) {
    case TileStatus::Valid:
        return T("有效");
    case TileStatus::NoRootFile:
        return Fill(T("无 root.osgb，也无 %1.osgb"), {NativePathText(leftOut.name)});
    case TileStatus::NotRegularFile:
        return Fill(T("%1 不是普通文件"), {RootName(leftOut)});
    case TileStatus::LoadFailed:
        if (leftOut.loadFailure != LoadFailure::None)
            return Fill(T("%1 无法加载（%2）"),
                        {RootName(leftOut), loadFailure(leftOut.loadFailure, leftOut.readerText)});
        return leftOut.cause
                   ? Fill(T("%1 无法加载（%2）"), {RootName(leftOut), cause(leftOut.cause)})
                   : Fill(T("%1 无法加载"), {RootName(leftOut)});
    case TileStatus::ReaderCrashed:
        return Fill(T("读取 %1 时崩溃"), {RootName(leftOut)});
    case TileStatus::TimedOut:
        return Fill(T("加载超过 %1 秒"),
                    {ShortNumber(static_cast<double>(leftOut.limit) / 1000.0)});
    case TileStatus::OutOfMemory:
        return Fill(T("加载需要超过 %1 MB 内存"),
                    {ShortNumber(static_cast<double>(leftOut.limit) / (1024.0 * 1024.0))});
    case TileStatus::UnsafeName:
        return T("名称含反斜杠或控制字符");
    case TileStatus::LinksBack:
        return T("指回所列目录");
    case TileStatus::Cycle:
        return Fill(T("%1 引用的文件循环指回自身，查看器会无休止地加载"), {RootName(leftOut)});
    case TileStatus::BlockNotWritten:
        return T("该分块的索引未写入");
    }
    return {};
}

std::wstring ReportWording::loadFailure(LoadFailure failure, const std::string& readerText) {
    switch (failure) {
    case LoadFailure::None:
        break;
    case LoadFailure::EmptyFile:
        return T("文件为空");
    case LoadFailure::NotAScene:
        return T("不是 OSG 场景文件");
    case LoadFailure::Truncated:
        return T("文件被截断");
    case LoadFailure::UnknownCompressor:
        return T("未知的压缩方式");
    case LoadFailure::UnsupportedVersion:
        return T("不支持的文件版本");
    case LoadFailure::ReaderError:
        if (!readerText.empty())
            return WideFromUtf8(readerText);
        break;
    }
    return T("原因不明");
}

std::wstring ReportWording::problem(const Problem& problem) {
    const std::wstring path = NativePathText(problem.path);
    const auto with = [&](const char* sentence) {
        return WithCause(Fill(T(sentence), {path}), problem.cause);
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
        return with("场景库缺少 .osgb 写入插件，无法写入索引");
    case ProblemKind::WorkersUnavailable:
        return with("无法启动子目录检查程序 %1");
    case ProblemKind::ExistingHoldsScene:
        return with(
            "已有的 %1 是模型数据，不是索引，已保留。此目录像是瓦片目录，请改为列出它的上一级目录");
    case ProblemKind::ExistingUnreadable:
        return with("无法读取已有的 %1，未替换");
    case ProblemKind::NoTilesKeptIndex:
        return with("没有任何子目录含可加载的 root.osgb，保留了已有的 %1");
    case ProblemKind::ReportUnreadable:
        return with("无法读取 %1，平移未更新");
    case ProblemKind::ReportNotRegularFile:
        return with("%1 不是普通文件，平移未更新");
    case ProblemKind::ReportNoSecondLine:
        return with("%1 没有第二行，平移未更新");
    case ProblemKind::ReportNoOrigin:
        return with("%1 的第二行没有原点坐标，平移未更新");
    case ProblemKind::ReportOriginNotFinite:
        return with("%1 的第二行中 X 或 Y 为无穷大或非数值，平移未更新");
    case ProblemKind::IndexNotFlushed:
        return with("已写入 %1，但未能把所在目录刷新到磁盘，此时断电可能丢失新索引");
    case ProblemKind::NoTilesFound:
        return with("%1 中没有任何子目录含可加载的 root.osgb 或 <子目录名>.osgb，未写入索引");
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
        return with("%1 的 SRSOrigin 不是三个有效数字，平移未更新");
    }
    return path;
}

std::wstring ReportWording::cause(const std::error_code& cause) {
    if (!cause)
        return {};
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
            return T(entry.text);
    // Anything rarer in the system's own words, in the system's code page.
    return WideFromCodePage(cause.message());
}

std::wstring ReportWording::runOutOfMemory() {
    return T("导出时内存不足，未能完成。目录列表未改动，可关闭其他程序后再按“确定”重试。");
}

std::wstring ReportWording::runFailedUnexpectedly(const std::string& what) {
    const std::wstring words = WideFromCodePage(what);
    if (words.find_first_not_of(L" \t\r\n") == std::wstring::npos)
        return T("导出时发生意外错误，未能完成。目录列表未改动。");
    return Fill(T("导出时发生意外错误，未能完成：%1\r\n目录列表未改动。"), {words});
}

std::wstring ReportWording::origin(const FolderReport& folder) {
    switch (folder.originSource) {
    case OriginSource::ThisFolder:
        return T("来自本目录的 report.txt");
    case OriginSource::CarriedOver:
        return Fill(T("沿用目录 %1 的 %2"), {FolderOf(folder.originReport),
                                             NativePathText(folder.originReport.filename())});
    case OriginSource::None:
        return T("尚未读到 report.txt，使用零平移");
    case OriginSource::Metadata:
        return Fill(T("来自 %1"), {NativePathText(folder.originReport)});
    case OriginSource::Blocks:
        return T("分块目录不平移，各分块的索引自带平移");
    }
    return {};
}

std::wstring ReportWording::translation(const osg::Vec3d& translation) {
    // Shortest text that reads back to the same double: coordinates keep every digit.
    const auto number = [](double value) {
        char text[400];
        const auto result =
            std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
        return WideFromUtf8(std::string(text, result.ptr));
    };
    return Fill(T("(%1, %2, %3)"),
                {number(translation.x()), number(translation.y()), number(translation.z())});
}

std::wstring ReportWording::replaceQuestion(const Problem& why) {
    const std::wstring folder = FolderOf(why.path);
    switch (why.kind) {
    case ProblemKind::ExistingHoldsScene:
        return Fill(T("%1 中已有 root.osgb，它是模型数据，不是索引。此目录像是瓦片目录，"
                      "应改为列出它的上一级目录。替换会丢失这份模型数据，建议保留。要替换它吗？"),
                    {folder});
    case ProblemKind::NoTilesFound:
    case ProblemKind::NoTilesLooksLikeTile:
    case ProblemKind::NoTilesOneLevelTooHigh:
        return Fill(T("%1 中没有任何子目录含可加载的瓦片。仍要写入一个空索引吗？"),
                    {NativePathText(why.path)});
    case ProblemKind::NoTilesKeptIndex:
        return Fill(
            T("%1 中没有任何子目录含可加载的 root.osgb。要用空索引替换已有的 root.osgb 吗？"),
            {folder});
    case ProblemKind::ExistingUnreadable:
        return Fill(
            T("%1 中已有 root.osgb，但无法读取它（%2），不能确定它是不是索引。要替换它吗？"),
            {folder, why.cause ? cause(why.cause) : T("原因不明")});
    default:
        return Fill(T("要替换 %1 吗？"), {NativePathText(why.path)});
    }
}

} // namespace brindle::win32
