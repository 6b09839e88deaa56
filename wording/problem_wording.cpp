#include "wording/problem_wording.h"

#include "wording/report_wording.h"
#include "wording/text.h"
#include "wording/words.h"

namespace brindle::wording {
namespace {

// Who reads a problem. The command line's user overrides a refusal with --force, and is told
// so; a dialog's user was asked instead, and is asked again.
enum class Reader { CommandLine, Dialog };

// The file whose SRS a problem names first.
std::string SrsFile(const Problem& problem) {
    return problem.srs.empty() ? std::string() : PathText(problem.srs.front().of);
}

// Every block's SRS with the block's name, as a list.
std::string SrsList(Language language, const Problem& problem) {
    const bool chinese = language == Language::Chinese;
    std::string list;
    for (const SrsOf& block : problem.srs) {
        if (!list.empty())
            list += chinese ? "；" : "; ";
        list += PathText(block.of.filename()) + (chinese ? "：" : ": ") +
                (block.srs.empty() ? std::string("-") : block.srs);
    }
    return list;
}

// The placeholders of a problem's words, as ProblemWords says.
std::vector<std::string> Arguments(Language language, const Problem& problem) {
    return {PathText(problem.path), FirstSrs(problem), SrsFile(problem), SrsList(language, problem),
            DescribeCause(language, problem.cause)};
}

std::string Words(Language language, const Problem& problem, Reader reader) {
    const ProblemWords& row = WordsOf(problem.kind);
    std::string text = Phrase(row.words.in(language), Arguments(language, problem));
    if (language == Language::Chinese && reader == Reader::CommandLine && row.chineseForce)
        text = Fill("%1；%2", {text, row.chineseForce});
    return text;
}

// What --verify says where it reads an index rather than replacing one.
constexpr Texts kNoIndexToCheck{"%1: there is no index to check", "%1 不存在，没有可检查的索引"};
constexpr Texts kIndexUnreadable{"%1: the index cannot be read[: %5]", "无法读取索引 %1[：%5]"};
constexpr Texts kIndexHoldsScene{"%1: holds scene data, not an index", "%1 是模型数据，不是索引"};

} // namespace

std::string DialogProblem(const Problem& problem) {
    return Words(Language::Chinese, problem, Reader::Dialog);
}

std::string FirstSrs(const Problem& problem) {
    return problem.srs.empty() ? std::string() : problem.srs.front().srs;
}

std::string DescribeProblem(Language language, const Problem& problem) {
    return Words(language, problem, Reader::CommandLine);
}

std::string DescribeVerifyProblem(Language language, const Problem& problem) {
    const Texts* words = nullptr;
    if (problem.kind == ProblemKind::ExistingUnreadable)
        words = problem.cause == std::errc::no_such_file_or_directory ? &kNoIndexToCheck
                                                                      : &kIndexUnreadable;
    if (problem.kind == ProblemKind::ExistingHoldsScene)
        words = &kIndexHoldsScene;
    if (!words)
        return DescribeProblem(language, problem);
    return Phrase(words->in(language), Arguments(language, problem));
}

std::string DescribeCause(Language language, const std::error_code& cause) {
    if (!cause)
        return {};
    if (language == Language::English)
        return SystemText(cause.message());
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

} // namespace brindle::wording
