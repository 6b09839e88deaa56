#pragma once

#include "export/fs/overview_folder.h"

namespace brindle::test {

// The system's calls for making a folder of levels, but that the process ends at once, as if
// killed, after the `step`th making of a folder, writing of a file or renaming of a folder.
// For a forked child: the counting is the process's own.
OverviewFolderCalls CallsEndingAfterStep(int step);

} // namespace brindle::test
