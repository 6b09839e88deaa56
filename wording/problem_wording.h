#pragma once

#include "export/export_report.h"

#include <string>

// What the dialogs' account shares with the command line's words for a problem.
namespace brindle::wording {

// A problem as a dialog says it: in Chinese, and without the command line's --force, since a
// dialog asks the user instead.
std::string DialogProblem(const Problem& problem);

// The SRS a problem names first; empty when it names none.
std::string FirstSrs(const Problem& problem);

} // namespace brindle::wording
