#pragma once

// Runs the built brindle-export as a user or a script would, through the shell.
#include "tests/export/test_fixtures.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace brindle::test {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Quote(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the shell `line` to its end, its standard error into a file in `dir`; with a
// redirection of its standard output in the line, nothing is read from it.
inline Outcome RunShell(const TempDir& dir, const std::string& line) {
    const std::filesystem::path err = dir / "stderr.txt";
    const std::string command = line + " 2>" + Quote(err.string());
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return outcome;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        outcome.out.append(buffer, n);
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.err = ReadBytes(err);
    return outcome;
}

// The program speaks English whatever the locale of the one running the tests. It keeps no
// verdicts either, having no cache folder, unless a test gives it one: a run then would
// check only the tiles changed since the last, and say so.
constexpr char kEnglish[] = "LC_ALL=C BRINDLE_LANG= XDG_CACHE_HOME= HOME=";
constexpr char kChinese[] =
    "LC_ALL= LC_MESSAGES= LANG=zh_CN.UTF-8 BRINDLE_LANG= XDG_CACHE_HOME= HOME=";

// Runs the program to its end under the `locale` variables; `redirect` is appended to the
// shell command (e.g. ">/dev/full"), in which case nothing is read from its standard output.
inline Outcome RunExport(const TempDir& dir, const std::vector<std::string>& arguments,
                         const std::string& redirect = "", const std::string& locale = kEnglish) {
    std::string command = locale + " " + Quote(BRINDLE_EXPORT_BIN);
    for (const std::string& argument : arguments)
        command.append(" ").append(Quote(argument));
    if (!redirect.empty())
        command.append(" ").append(redirect);
    return RunShell(dir, command);
}

} // namespace brindle::test
