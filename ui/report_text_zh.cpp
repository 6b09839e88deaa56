#include "report_text_zh.h"

#include "path_text.h"

#include <QLocale>

namespace brindle::ui {

namespace {

// A limit in larger units, as short as it can be said: 20, 20.5.
QString shortNumber(double value) {
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QStringLiteral(".0")))
        text.chop(2);
    return text;
}

// The tile's root file as found, else root.osgb.
QString rootName(const LeftOutSubfolder& leftOut) {
    return leftOut.rootFile.empty() ? QStringLiteral("root.osgb")
                                    : QStringFromPath(leftOut.rootFile);
}

// The folder a file lies in, as the system writes it.
QString folderOf(const std::filesystem::path& file) {
    return NativePathText(file.parent_path());
}

// "sentence" or "sentence：cause", depending on whether the system gave a cause.
QString withCause(const QString& sentence, const std::error_code& cause) {
    if (!cause)
        return sentence;
    return ReportWording::tr("%1：%2").arg(sentence, ReportWording::cause(cause));
}

FolderText describeFolder(const FolderReport& folder) {
    FolderText text;
    text.folder = NativePathText(folder.folder);
    text.status = ReportWording::status(folder.status);
    // A repeat's index is its first listing's; it is told apart, not marked as failed.
    text.ok = folder.status == FolderStatus::Written || folder.status == FolderStatus::DryRun ||
              folder.status == FolderStatus::ListedTwice;
    if (folder.status == FolderStatus::ListedTwice)
        text.warnings << ReportWording::tr("与 %1 是同一目录，只在那里导出一次")
                             .arg(NativePathText(folder.firstListing));
    else if (text.ok) {
        text.entries = QString::number(folder.entries.size());
        if (folder.index == IndexKind::Paged)
            text.entries =
                folder.proxyLeaves.empty()
                    ? ReportWording::tr("%1（分页索引）").arg(text.entries)
                    : ReportWording::tr("%1（分页索引，其中 %2 个范围未知，打开时即加载）")
                          .arg(text.entries)
                          .arg(folder.proxyLeaves.size());
        text.translation = ReportWording::tr("%1，%2").arg(
            ReportWording::translation(folder.translation), ReportWording::origin(folder));
        if (!folder.srs.empty())
            text.translation = ReportWording::tr("%1，坐标系 %2")
                                   .arg(text.translation, QString::fromStdString(folder.srs));
    }
    if (folder.error)
        text.error = ReportWording::problem(*folder.error);
    for (const Problem& warning : folder.warnings)
        text.warnings << ReportWording::problem(warning);
    for (const std::filesystem::path& tile : folder.recheckedTiles)
        text.warnings << ReportWording::tr("子目录 %1 超出内存上限，已单独用更多内存重新检查")
                             .arg(QStringFromPath(tile));
    text.leftOut.reserve(folder.leftOut.size());
    for (const LeftOutSubfolder& leftOut : folder.leftOut)
        text.leftOut.push_back(
            {QStringFromPath(leftOut.name), ReportWording::leftOutReason(leftOut)});
    if (!folder.master.empty())
        text.master = NativePathText(folder.master);
    return text;
}

QString summarize(const ExportReport& report) {
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
        return ReportWording::tr("没有列出目录。");
    QStringList parts;
    if (written > 0 || dryRun == 0)
        parts << ReportWording::tr("已写入 %1 个目录").arg(written);
    if (dryRun > 0)
        parts << ReportWording::tr("试运行 %1 个目录，未写入").arg(dryRun);
    if (failed > 0)
        parts << ReportWording::tr("%1 个目录失败").arg(failed);
    if (cancelled > 0)
        parts << ReportWording::tr("%1 个目录因取消未写入").arg(cancelled);
    if (listedTwice > 0)
        parts << ReportWording::tr("%1 个目录重复列出").arg(listedTwice);
    if (leftOut > 0)
        parts << ReportWording::tr("%1 个子目录未收录").arg(leftOut);
    if (warnings > 0)
        parts << ReportWording::tr("%1 条警告").arg(warnings);
    QString summary = parts.join(ReportWording::tr("，")) + ReportWording::tr("。");
    if (failed > 0 || cancelled > 0)
        summary += ReportWording::tr("排除原因后可再按“确定”重新导出。");
    return summary;
}

} // namespace

ReportText ReportWording::describe(const ExportReport& report) {
    ReportText text;
    text.succeeded = report.succeeded() && !report.cancelled;
    text.headline = text.succeeded ? tr("导出成功") : tr("导出未完成");
    text.summary = summarize(report);
    text.folders.reserve(report.folders.size());
    for (const FolderReport& folder : report.folders)
        text.folders.push_back(describeFolder(folder));
    return text;
}

QString ReportWording::plainText(const ReportText& text) {
    const QStringList columns = columnTitles();
    const QString field = tr("%1：%2");
    QStringList lines{text.headline, text.summary};
    for (const FolderText& folder : text.folders) {
        lines << QString() << field.arg(columns[0], folder.folder);
        if (!folder.master.isEmpty())
            lines << QStringLiteral("  ") + tr("属于分块目录 %1").arg(folder.master);
        const QString indent = QStringLiteral("  ");
        lines << indent + field.arg(columns[1], folder.status);
        if (!folder.entries.isEmpty())
            lines << indent + field.arg(columns[2], folder.entries);
        if (!folder.translation.isEmpty())
            lines << indent + field.arg(columns[3], folder.translation);
        if (!folder.error.isEmpty())
            lines << indent + field.arg(tr("错误"), folder.error);
        for (const QString& warning : folder.warnings)
            lines << indent + field.arg(tr("警告"), warning);
        if (!folder.leftOut.empty()) {
            lines << indent + leftOutGroup(folder.leftOut.size()) + tr("：");
            for (const LeftOutText& leftOut : folder.leftOut)
                lines << indent + indent + field.arg(leftOut.name, leftOut.reason);
        }
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QStringList ReportWording::columnTitles() {
    return {tr("目录"), tr("状态"), tr("条目数"), tr("平移与来源")};
}

QString ReportWording::leftOutGroup(std::size_t count) {
    return tr("未收录的子目录（%1 个）").arg(count);
}

QString ReportWording::status(FolderStatus status) {
    switch (status) {
    case FolderStatus::Written:
        return tr("已写入");
    case FolderStatus::DryRun:
        return tr("试运行，未写入");
    case FolderStatus::Failed:
        return tr("失败");
    case FolderStatus::Cancelled:
        return tr("已取消，未写入");
    case FolderStatus::ListedTwice:
        return tr("重复列出，未再导出");
    }
    return QString();
}

QString ReportWording::leftOutReason(const LeftOutSubfolder& leftOut) {
    switch (leftOut.reason) {
    case TileStatus::Valid:
        return tr("有效");
    case TileStatus::NoRootFile:
        return tr("无 root.osgb，也无 %1.osgb").arg(QStringFromPath(leftOut.name));
    case TileStatus::NotRegularFile:
        return tr("%1 不是普通文件").arg(rootName(leftOut));
    case TileStatus::LoadFailed:
        if (leftOut.loadFailure != LoadFailure::None)
            return tr("%1 无法加载（%2）")
                .arg(rootName(leftOut), loadFailure(leftOut.loadFailure, leftOut.readerText));
        return leftOut.cause ? tr("%1 无法加载（%2）").arg(rootName(leftOut), cause(leftOut.cause))
                             : tr("%1 无法加载").arg(rootName(leftOut));
    case TileStatus::ReaderCrashed:
        return tr("读取 %1 时崩溃").arg(rootName(leftOut));
    case TileStatus::TimedOut:
        return tr("加载超过 %1 秒").arg(shortNumber(static_cast<double>(leftOut.limit) / 1000.0));
    case TileStatus::OutOfMemory:
        return tr("加载需要超过 %1 MB 内存")
            .arg(shortNumber(static_cast<double>(leftOut.limit) / (1024.0 * 1024.0)));
    case TileStatus::UnsafeName:
        return tr("名称含反斜杠或控制字符");
    case TileStatus::LinksBack:
        return tr("指回所列目录");
    case TileStatus::Cycle:
        return tr("%1 引用的文件循环指回自身，查看器会无休止地加载").arg(rootName(leftOut));
    case TileStatus::BlockNotWritten:
        return tr("该分块的索引未写入");
    }
    return QString();
}

QString ReportWording::loadFailure(LoadFailure failure, const std::string& readerText) {
    switch (failure) {
    case LoadFailure::None:
        break;
    case LoadFailure::EmptyFile:
        return tr("文件为空");
    case LoadFailure::NotAScene:
        return tr("不是 OSG 场景文件");
    case LoadFailure::Truncated:
        return tr("文件被截断");
    case LoadFailure::UnknownCompressor:
        return tr("未知的压缩方式");
    case LoadFailure::UnsupportedVersion:
        return tr("不支持的文件版本");
    case LoadFailure::ReaderError:
        if (!readerText.empty())
            return QString::fromStdString(readerText);
        break;
    }
    return tr("原因不明");
}

QString ReportWording::problem(const Problem& problem) {
    const QString path = NativePathText(problem.path);
    switch (problem.kind) {
    case ProblemKind::FolderMissing:
        return withCause(tr("目录 %1 不存在").arg(path), problem.cause);
    case ProblemKind::NotAFolder:
        return withCause(tr("%1 不是目录").arg(path), problem.cause);
    case ProblemKind::FolderUnreadable:
        return withCause(tr("无法读取目录 %1").arg(path), problem.cause);
    case ProblemKind::WriteFailed:
        return withCause(tr("无法写入 %1").arg(path), problem.cause);
    case ProblemKind::NoIndexWriter:
        return withCause(tr("场景库缺少 .osgb 写入插件，无法写入索引"), problem.cause);
    case ProblemKind::WorkersUnavailable:
        return withCause(tr("无法启动子目录检查程序 %1").arg(path), problem.cause);
    case ProblemKind::ExistingHoldsScene:
        return withCause(
            tr("已有的 %1 "
               "是模型数据，不是索引，已保留。此目录像是瓦片目录，请改为列出它的上一级目录")
                .arg(path),
            problem.cause);
    case ProblemKind::ExistingUnreadable:
        return withCause(tr("无法读取已有的 %1，未替换").arg(path), problem.cause);
    case ProblemKind::NoTilesKeptIndex:
        return withCause(tr("没有任何子目录含可加载的 root.osgb，保留了已有的 %1").arg(path),
                         problem.cause);
    case ProblemKind::ReportUnreadable:
        return withCause(tr("无法读取 %1，平移未更新").arg(path), problem.cause);
    case ProblemKind::ReportNotRegularFile:
        return withCause(tr("%1 不是普通文件，平移未更新").arg(path), problem.cause);
    case ProblemKind::ReportNoSecondLine:
        return withCause(tr("%1 没有第二行，平移未更新").arg(path), problem.cause);
    case ProblemKind::ReportNoOrigin:
        return withCause(tr("%1 的第二行没有原点坐标，平移未更新").arg(path), problem.cause);
    case ProblemKind::ReportOriginNotFinite:
        return withCause(tr("%1 的第二行中 X 或 Y 为无穷大或非数值，平移未更新").arg(path),
                         problem.cause);
    case ProblemKind::IndexNotFlushed:
        return withCause(
            tr("已写入 %1，但未能把所在目录刷新到磁盘，此时断电可能丢失新索引").arg(path),
            problem.cause);
    case ProblemKind::NoTilesFound:
        return withCause(
            tr("%1 中没有任何子目录含可加载的 root.osgb 或 <子目录名>.osgb，未写入索引").arg(path),
            problem.cause);
    case ProblemKind::NoTilesLooksLikeTile:
        return withCause(tr("%1 中没有任何子目录含瓦片，但它自身含 .osgb 文件，像是瓦片目录"
                            "（低了一级）；请改为列出它的上一级目录。未写入索引")
                             .arg(path),
                         problem.cause);
    case ProblemKind::NoTilesOneLevelTooHigh:
        return withCause(tr("%1 中没有任何子目录含瓦片，但再下一级的目录含瓦片，目录高了一级；"
                            "请改为列出其中的目录。未写入索引")
                             .arg(path),
                         problem.cause);
    case ProblemKind::MetadataUnreadable:
        return withCause(tr("无法读取 %1，平移未更新").arg(path), problem.cause);
    case ProblemKind::MetadataNotRegularFile:
        return withCause(tr("%1 不是普通文件，平移未更新").arg(path), problem.cause);
    case ProblemKind::MetadataTooLarge:
        return withCause(tr("%1 超过 1 MB，不是元数据文件，平移未更新").arg(path), problem.cause);
    case ProblemKind::MetadataNotXml:
        return withCause(tr("%1 不是有效的 XML，平移未更新").arg(path), problem.cause);
    case ProblemKind::MetadataNoOrigin:
        return withCause(tr("%1 中没有 SRSOrigin，平移未更新").arg(path), problem.cause);
    case ProblemKind::MetadataBadOrigin:
        return withCause(tr("%1 的 SRSOrigin 不是三个有效数字，平移未更新").arg(path),
                         problem.cause);
    }
    return path;
}

QString ReportWording::cause(const std::error_code& cause) {
    if (!cause)
        return QString();
    // The common causes in the user's words; the comparison goes through the portable
    // conditions, so Windows error numbers match as well.
    struct Known {
        std::errc condition;
        const char* text;
    };
    static const Known known[] = {
        {std::errc::no_such_file_or_directory, QT_TR_NOOP("文件或目录不存在")},
        {std::errc::permission_denied, QT_TR_NOOP("权限不足")},
        {std::errc::operation_not_permitted, QT_TR_NOOP("权限不足")},
        {std::errc::no_space_on_device, QT_TR_NOOP("磁盘空间不足")},
        {std::errc::read_only_file_system, QT_TR_NOOP("只读文件系统")},
        {std::errc::not_a_directory, QT_TR_NOOP("路径中有一项不是目录")},
        {std::errc::is_a_directory, QT_TR_NOOP("是一个目录")},
        {std::errc::file_exists, QT_TR_NOOP("文件已存在")},
        {std::errc::directory_not_empty, QT_TR_NOOP("目录不为空")},
        {std::errc::filename_too_long, QT_TR_NOOP("文件名过长")},
        {std::errc::too_many_symbolic_link_levels, QT_TR_NOOP("符号链接层数过多")},
        {std::errc::io_error, QT_TR_NOOP("输入/输出错误（磁盘或网络故障）")},
        {std::errc::device_or_resource_busy, QT_TR_NOOP("设备或资源忙")},
        {std::errc::not_enough_memory, QT_TR_NOOP("内存不足")},
        {std::errc::file_too_large, QT_TR_NOOP("文件过大")},
        {std::errc::too_many_files_open, QT_TR_NOOP("打开的文件过多")},
        {std::errc::too_many_files_open_in_system, QT_TR_NOOP("打开的文件过多")},
        {std::errc::cross_device_link, QT_TR_NOOP("不能跨磁盘移动文件")},
        {std::errc::timed_out, QT_TR_NOOP("操作超时")},
        {std::errc::invalid_argument, QT_TR_NOOP("参数无效")},
        {std::errc::no_such_device, QT_TR_NOOP("设备不存在")},
    };
    for (const Known& entry : known)
        if (cause == entry.condition)
            return tr(entry.text);
    // Anything rarer in the system's own words, which follow the system's language.
    return QString::fromLocal8Bit(cause.message().c_str());
}

QString ReportWording::origin(const FolderReport& folder) {
    switch (folder.originSource) {
    case OriginSource::ThisFolder:
        return tr("来自本目录的 report.txt");
    case OriginSource::CarriedOver:
        return tr("沿用目录 %1 的 %2")
            .arg(folderOf(folder.originReport), QStringFromPath(folder.originReport.filename()));
    case OriginSource::None:
        return tr("尚未读到 report.txt，使用零平移");
    case OriginSource::Metadata:
        return tr("来自 %1").arg(NativePathText(folder.originReport));
    case OriginSource::Blocks:
        return tr("分块目录不平移，各分块的索引自带平移");
    }
    return QString();
}

QString ReportWording::translation(const osg::Vec3d& translation) {
    const auto number = [](double value) {
        // Shortest text that reads back to the same double: coordinates keep every digit.
        return QString::number(value, 'f', QLocale::FloatingPointShortest);
    };
    return tr("(%1, %2, %3)")
        .arg(number(translation.x()), number(translation.y()), number(translation.z()));
}

QString ReportWording::replaceQuestion(const Problem& why) {
    const QString folder = folderOf(why.path);
    switch (why.kind) {
    case ProblemKind::ExistingHoldsScene:
        return tr("%1 中已有 root.osgb，它是模型数据，不是索引。此目录像是瓦片目录，"
                  "应改为列出它的上一级目录。替换会丢失这份模型数据，建议保留。要替换它吗？")
            .arg(folder);
    case ProblemKind::NoTilesFound:
    case ProblemKind::NoTilesLooksLikeTile:
    case ProblemKind::NoTilesOneLevelTooHigh:
        return tr("%1 中没有任何子目录含可加载的瓦片。仍要写入一个空索引吗？")
            .arg(NativePathText(why.path));
    case ProblemKind::NoTilesKeptIndex:
        return tr("%1 中没有任何子目录含可加载的 root.osgb。要用空索引替换已有的 root.osgb 吗？")
            .arg(folder);
    case ProblemKind::ExistingUnreadable:
        return tr("%1 中已有 root.osgb，但无法读取它（%2），不能确定它是不是索引。要替换它吗？")
            .arg(folder, why.cause ? cause(why.cause) : tr("原因不明"));
    default:
        return tr("要替换 %1 吗？").arg(NativePathText(why.path));
    }
}

QString ReportWording::runOutOfMemory() {
    return tr("导出时内存不足，未能完成。目录列表未改动，可关闭其他程序后再按“确定”重试。");
}

QString ReportWording::runFailedUnexpectedly(const std::string& what) {
    const QString words = QString::fromLocal8Bit(what.data(), static_cast<int>(what.size()));
    if (words.trimmed().isEmpty())
        return tr("导出时发生意外错误，未能完成。目录列表未改动。");
    return tr("导出时发生意外错误，未能完成：%1\n目录列表未改动。").arg(words);
}

} // namespace brindle::ui
