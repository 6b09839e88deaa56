#include "path_text.h"
#include "report_text_zh.h"

#include <QDir>
#include <QSet>
#include <QtTest>

using brindle::ui::ReportWording;

namespace {

brindle::LeftOutSubfolder leftOut(const char* name, brindle::TileStatus reason,
                                  std::error_code cause = {}, std::uint64_t limit = 0) {
    return {name, reason, cause, limit, {}, {}};
}

std::error_code errc(std::errc code) {
    return std::make_error_code(code);
}

} // namespace

class ReportTextTest : public QObject {
    Q_OBJECT
private slots:
    void leftOutReasons();
    void causesInChinese();
    void problemsNameTheirPath();
    void originAndTranslation();
    void wholeReport();
    void listedTwice();
    void replaceQuestions();
    void pathsSurviveTheRoundTrip();
};

void ReportTextTest::leftOutReasons() {
    using brindle::TileStatus;
    const TileStatus all[] = {TileStatus::NoRootFile, TileStatus::NotRegularFile,
                              TileStatus::LoadFailed, TileStatus::ReaderCrashed,
                              TileStatus::TimedOut,   TileStatus::OutOfMemory,
                              TileStatus::UnsafeName, TileStatus::LinksBack,
                              TileStatus::Cycle,      TileStatus::BlockNotWritten};
    QSet<QString> seen;
    for (TileStatus status : all)
        seen.insert(ReportWording::leftOutReason(leftOut("t", status, {}, 1000)));
    // Every reason is worded, and no two share the words.
    QCOMPARE(seen.size(), int(std::size(all)));
    QVERIFY(!seen.contains(QString()));

    QCOMPARE(ReportWording::leftOutReason(leftOut("t", TileStatus::NoRootFile)),
             QStringLiteral("无 root.osgb，也无 t.osgb"));
    QCOMPARE(ReportWording::leftOutReason(leftOut("t", TileStatus::TimedOut, {}, 20000)),
             QStringLiteral("加载超过 20 秒"));
    QCOMPARE(ReportWording::leftOutReason(leftOut("t", TileStatus::TimedOut, {}, 2500)),
             QStringLiteral("加载超过 2.5 秒"));
    QCOMPARE(ReportWording::leftOutReason(
                 leftOut("t", TileStatus::OutOfMemory, {}, std::uint64_t{256} << 20)),
             QStringLiteral("加载需要超过 256 MB 内存"));
    // A load that failed for a system reason says which.
    QCOMPARE(ReportWording::leftOutReason(
                 leftOut("t", TileStatus::LoadFailed, errc(std::errc::permission_denied))),
             QStringLiteral("root.osgb 无法加载（权限不足）"));
    QCOMPARE(ReportWording::leftOutReason(leftOut("t", TileStatus::LoadFailed)),
             QStringLiteral("root.osgb 无法加载"));
    // A load that failed for a reason of the file's own names it; the reader's words verbatim.
    const std::pair<brindle::LoadFailure, const char*> causes[] = {
        {brindle::LoadFailure::EmptyFile, "文件为空"},
        {brindle::LoadFailure::NotAScene, "不是 OSG 场景文件"},
        {brindle::LoadFailure::Truncated, "文件被截断"},
        {brindle::LoadFailure::UnknownCompressor, "未知的压缩方式"},
        {brindle::LoadFailure::UnsupportedVersion, "不支持的文件版本"},
        {brindle::LoadFailure::ReaderError, "Failed to decompress stream"},
    };
    for (const auto& [failure, words] : causes) {
        brindle::LeftOutSubfolder failed = leftOut("t", TileStatus::LoadFailed);
        failed.loadFailure = failure;
        failed.readerText = "Failed to decompress stream";
        QCOMPARE(ReportWording::leftOutReason(failed),
                 QStringLiteral("root.osgb 无法加载（%1）").arg(QString::fromUtf8(words)));
    }
}

void ReportTextTest::causesInChinese() {
    QCOMPARE(ReportWording::cause(errc(std::errc::no_such_file_or_directory)),
             QStringLiteral("文件或目录不存在"));
    QCOMPARE(ReportWording::cause(errc(std::errc::permission_denied)), QStringLiteral("权限不足"));
    QCOMPARE(ReportWording::cause(errc(std::errc::no_space_on_device)),
             QStringLiteral("磁盘空间不足"));
    QCOMPARE(ReportWording::cause(errc(std::errc::read_only_file_system)),
             QStringLiteral("只读文件系统"));
    // The system's own numbering, as the export library reports it, maps the same way.
    QCOMPARE(ReportWording::cause(std::error_code(ENOSPC, std::system_category())),
             QStringLiteral("磁盘空间不足"));
    // A rare cause falls back to the system's words rather than to nothing.
    const std::error_code rare = errc(std::errc::broken_pipe);
    QCOMPARE(ReportWording::cause(rare), QString::fromLocal8Bit(rare.message().c_str()));
    QVERIFY(ReportWording::cause({}).isEmpty());
}

void ReportTextTest::problemsNameTheirPath() {
    using brindle::ProblemKind;
    const ProblemKind all[] = {
        ProblemKind::FolderMissing,          ProblemKind::NotAFolder,
        ProblemKind::FolderUnreadable,       ProblemKind::WriteFailed,
        ProblemKind::WorkersUnavailable,     ProblemKind::ExistingHoldsScene,
        ProblemKind::ExistingUnreadable,     ProblemKind::NoTilesKeptIndex,
        ProblemKind::ReportUnreadable,       ProblemKind::ReportNotRegularFile,
        ProblemKind::ReportNoSecondLine,     ProblemKind::ReportNoOrigin,
        ProblemKind::ReportOriginNotFinite,  ProblemKind::IndexNotFlushed,
        ProblemKind::NoTilesFound,           ProblemKind::NoTilesLooksLikeTile,
        ProblemKind::NoTilesOneLevelTooHigh, ProblemKind::MetadataUnreadable,
        ProblemKind::MetadataNotRegularFile, ProblemKind::MetadataTooLarge,
        ProblemKind::MetadataNotXml,         ProblemKind::MetadataNoOrigin,
        ProblemKind::MetadataBadOrigin};
    const std::filesystem::path path = "/数据/测区 1/report.txt";
    for (ProblemKind kind : all) {
        const QString text = ReportWording::problem({kind, path, {}});
        QVERIFY2(text.contains(QDir::toNativeSeparators(QStringLiteral("/数据/测区 1/report.txt"))),
                 qPrintable(text));
    }
    QCOMPARE(ReportWording::problem(
                 {ProblemKind::WriteFailed, "/d/root.osgb", errc(std::errc::no_space_on_device)}),
             QDir::toNativeSeparators(QStringLiteral("无法写入 /d/root.osgb：磁盘空间不足")));
    QVERIFY(!ReportWording::problem({ProblemKind::NoIndexWriter, {}, {}}).isEmpty());
}

void ReportTextTest::originAndTranslation() {
    brindle::FolderReport folder;
    folder.originSource = brindle::OriginSource::CarriedOver;
    folder.originReport = "/blocks/a/report.txt";
    QCOMPARE(ReportWording::origin(folder),
             QStringLiteral("沿用目录 %1 的 report.txt")
                 .arg(QDir::toNativeSeparators(QStringLiteral("/blocks/a"))));
    folder.originSource = brindle::OriginSource::None;
    QVERIFY(ReportWording::origin(folder).contains(QStringLiteral("零平移")));
    // Projected coordinates keep every digit they were read with.
    QCOMPARE(ReportWording::translation({512345.678901, -3.25, 0}),
             QStringLiteral("(512345.678901, -3.25, 0)"));
}

void ReportTextTest::wholeReport() {
    brindle::ExportReport report;
    brindle::FolderReport written;
    written.folder = "/blocks/a";
    written.status = brindle::FolderStatus::Written;
    written.entries = {"t1\\root.osgb", "t2\\root.osgb"};
    written.originSource = brindle::OriginSource::ThisFolder;
    written.originReport = "/blocks/a/report.txt";
    written.leftOut = {leftOut("t3", brindle::TileStatus::NoRootFile)};
    written.recheckedTiles = {"t2"};
    report.folders.push_back(written);

    brindle::ui::ReportText text = ReportWording::describe(report);
    QVERIFY(text.succeeded);
    QCOMPARE(text.headline, QStringLiteral("导出成功"));
    QCOMPARE(text.summary, QStringLiteral("已写入 1 个目录，1 个子目录未收录。"));
    QCOMPARE(text.folders.at(0).entries, QStringLiteral("2"));
    QCOMPARE(text.folders.at(0).translation, QStringLiteral("(0, 0, 0)，来自本目录的 report.txt"));
    const QString plain = ReportWording::plainText(text);
    QVERIFY2(plain.contains(QStringLiteral("t3：无 root.osgb")), qPrintable(plain));
    QVERIFY2(plain.contains(QStringLiteral("未收录的子目录（1 个）")), qPrintable(plain));
    QVERIFY2(
        plain.contains(QStringLiteral("警告：子目录 t2 超出内存上限，已单独用更多内存重新检查")),
        qPrintable(plain));

    brindle::FolderReport failed;
    failed.folder = "/blocks/b";
    failed.status = brindle::FolderStatus::Failed;
    failed.error = brindle::Problem{brindle::ProblemKind::FolderMissing, "/blocks/b", {}};
    report.folders.push_back(failed);
    text = ReportWording::describe(report);
    QVERIFY(!text.succeeded);
    QCOMPARE(text.headline, QStringLiteral("导出未完成"));
    QVERIFY2(text.summary.contains(QStringLiteral("1 个目录失败")), qPrintable(text.summary));
    // A folder that was not written shows no entries and no translation, only its error.
    QVERIFY(text.folders.at(1).entries.isEmpty() && text.folders.at(1).translation.isEmpty());
    QVERIFY(ReportWording::plainText(text).contains(
        QStringLiteral("错误：目录 %1 不存在")
            .arg(QDir::toNativeSeparators(QStringLiteral("/blocks/b")))));

    report.folders.at(1).status = brindle::FolderStatus::Cancelled;
    report.folders.at(1).error.reset();
    report.cancelled = true;
    text = ReportWording::describe(report);
    QCOMPARE(text.headline, QStringLiteral("导出未完成"));
    QVERIFY2(text.summary.contains(QStringLiteral("1 个目录因取消未写入")),
             qPrintable(text.summary));
}

void ReportTextTest::listedTwice() {
    brindle::ExportReport report;
    brindle::FolderReport written;
    written.folder = "/blocks/a";
    written.status = brindle::FolderStatus::Written;
    written.entries = {"t1\\root.osgb"};
    brindle::FolderReport again;
    again.folder = "/blocks/a/";
    again.indexFile = "/blocks/a/root.osgb";
    again.status = brindle::FolderStatus::ListedTwice;
    again.firstListing = "/blocks/a";
    report.folders = {written, again};

    const brindle::ui::ReportText text = ReportWording::describe(report);
    QVERIFY(text.succeeded);
    QCOMPARE(text.summary, QStringLiteral("已写入 1 个目录，1 个目录重复列出。"));
    const brindle::ui::FolderText& repeat = text.folders.at(1);
    QCOMPARE(repeat.status, QStringLiteral("重复列出，未再导出"));
    QVERIFY2(repeat.ok, "a repeat is no failure");
    QVERIFY(repeat.entries.isEmpty() && repeat.translation.isEmpty() && repeat.error.isEmpty());
    QCOMPARE(repeat.warnings,
             QStringList{QStringLiteral("与 %1 是同一目录，只在那里导出一次")
                             .arg(QDir::toNativeSeparators(QStringLiteral("/blocks/a")))});
    QVERIFY2(ReportWording::plainText(text).contains(QStringLiteral("状态：重复列出，未再导出")),
             qPrintable(ReportWording::plainText(text)));
}

void ReportTextTest::replaceQuestions() {
    const QString folder = QDir::toNativeSeparators(QStringLiteral("/blocks/a"));
    QCOMPARE(
        ReportWording::replaceQuestion(
            {brindle::ProblemKind::ExistingHoldsScene, "/blocks/a/root.osgb", {}}),
        QStringLiteral("%1 中已有 root.osgb，它是模型数据，不是索引。此目录像是瓦片目录，"
                       "应改为列出它的上一级目录。替换会丢失这份模型数据，建议保留。要替换它吗？")
            .arg(folder));
    QVERIFY(!ReportWording::problem({brindle::ProblemKind::ExistingHoldsScene, "/a/root.osgb", {}})
                 .contains(QStringLiteral("替换")));
    QVERIFY(ReportWording::replaceQuestion(
                {brindle::ProblemKind::NoTilesKeptIndex, "/blocks/a/root.osgb", {}})
                .contains(QStringLiteral("空索引")));
    QVERIFY(
        ReportWording::replaceQuestion({brindle::ProblemKind::ExistingUnreadable,
                                        "/blocks/a/root.osgb", errc(std::errc::permission_denied)})
            .contains(QStringLiteral("权限不足")));
}

void ReportTextTest::pathsSurviveTheRoundTrip() {
    const QString name = QStringLiteral("测区/块 1/Tile_+001_é");
    const std::filesystem::path path = brindle::ui::PathFromQString(name);
    QCOMPARE(brindle::ui::QStringFromPath(path), name);
#ifndef _WIN32
    // On Linux the bytes on disk are the UTF-8 of the name.
    QCOMPARE(QByteArray::fromStdString(path.string()), name.toUtf8());
#endif
}

QTEST_GUILESS_MAIN(ReportTextTest)
#include "report_text_zh_test.moc"
