#include "tests/export/fs/step_ended_calls.h"

#include <cstdlib>

namespace brindle::test {
namespace {

// A child has one making at a time: the counts are its own.
int endAfter = 0;
int stepsDone = 0;

void StepDone() {
    if (++stepsDone == endAfter)
        std::_Exit(0);
}

Status MakeFolderThenStep(const std::filesystem::path& folder) {
    const Status status = SystemOverviewFolderCalls().makeFolder(folder);
    StepDone();
    return status;
}

Status WriteFileThenStep(const std::filesystem::path& file, std::string_view bytes) {
    const Status status = SystemOverviewFolderCalls().writeFile(file, bytes);
    StepDone();
    return status;
}

Status RenameFolderThenStep(const std::filesystem::path& from, const std::filesystem::path& to) {
    const Status status = SystemOverviewFolderCalls().renameFolder(from, to);
    StepDone();
    return status;
}

} // namespace

OverviewFolderCalls CallsEndingAfterStep(int step) {
    endAfter = step;
    stepsDone = 0;
    OverviewFolderCalls calls = SystemOverviewFolderCalls();
    calls.makeFolder = MakeFolderThenStep;
    calls.writeFile = WriteFileThenStep;
    calls.renameFolder = RenameFolderThenStep;
    return calls;
}

} // namespace brindle::test
