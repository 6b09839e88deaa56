#include "bench/exporter_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace brindle::bench {
namespace fs = std::filesystem;

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

namespace {

// The environment this program was started with, for the exporter.
std::vector<std::string> StartEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry)
        entries.emplace_back(*entry);
    return entries;
}

// The number after `field` in /usr/bin/time -v's report; 0 when it is not there.
double TimeReportField(const std::string& report, const std::string& field) {
    const std::size_t at = report.find(field);
    if (at == std::string::npos) {
        return 0;
    }
    return std::strtod(report.c_str() + at + field.size(), nullptr);
}

// The C strings of `strings`, ended by a null, for exec's arguments and environment.
std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

pid_t Spawn(std::vector<std::string> args, const fs::path& log,
            std::vector<std::string> environment = StartEnvironment()) {
    std::vector<char*> argv = Pointers(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> envp = Pointers(environment);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + args.front());
    }
    return pid;
}

// The peak memory comes from /usr/bin/time rather than from wait4 here: a child spawned from
// this process inherits this process's high-water mark (the tiles it loaded) through exec,
// while /usr/bin/time is small when it starts the program.
ExporterRun RunTimed(const std::string& program, const std::vector<std::string>& arguments,
                     const fs::path& log, bool sampleMemory, std::vector<std::string> environment) {
    const fs::path timeReport = log.string() + ".time";
    std::vector<std::string> args = {"/usr/bin/time", "-v", "-o", timeReport.string(), program};
    args.insert(args.end(), arguments.begin(), arguments.end());

    ExporterRun run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(args, log, std::move(environment));
    std::optional<ProcessTreeSampler> sampler;
    if (sampleMemory) {
        sampler.emplace(pid, std::chrono::milliseconds(50));
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        throw std::runtime_error("lost track of " + program);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (sampler) {
        run.sampled = sampler->stop();
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::string report = ReadFileBytes(timeReport);
    run.maxResidentKiB =
        static_cast<std::uint64_t>(TimeReportField(report, "Maximum resident set size (kbytes):"));
    run.cpuSeconds = TimeReportField(report, "User time (seconds):") +
                     TimeReportField(report, "System time (seconds):");
    run.minorFaults = static_cast<std::uint64_t>(
        TimeReportField(report, "Minor (reclaiming a frame) page faults:"));
    if (run.exitCode == 0 && run.maxResidentKiB == 0) {
        throw std::runtime_error("/usr/bin/time reported no peak memory in " + timeReport.string());
    }
    return run;
}

} // namespace

ExporterRun RunExporter(const std::vector<std::string>& arguments, const fs::path& log,
                        bool sampleMemory) {
    return RunTimed(BRINDLE_EXPORT_PATH, arguments, log, sampleMemory, StartEnvironment());
}

ExporterRun RunInProcessValidator(const std::vector<std::string>& arguments, const fs::path& log) {
    return RunTimed(BRINDLE_VALIDATE_PATH, arguments, log, false, StartEnvironment());
}

int RunWithStartEnvironment(const std::vector<std::string>& arguments, const fs::path& log) {
    const pid_t pid = Spawn(arguments, log);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        throw std::runtime_error("lost track of " + arguments.front());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace brindle::bench
