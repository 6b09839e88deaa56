#pragma once

#include "export/overview/scene_summary.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/worker/content_conversion.h"

#include <cstddef>

namespace brindle {

// The tile-check worker's main loop: reads requests from standard input and answers each on
// standard output until the input ends. Sets up the process for it first: the scene-graph
// library's messages are kept for replies instead of printed, anything else written to standard
// output is sent nowhere, and the process ends with its parent. Returns the process's exit status.
//
// A tile that loads is summarised, when asked, by `summarise` (SummariseScene by default: tests
// give one that fails). Whatever becomes of the summary, even a crash, the tile's verdict is
// answered. A Content request's scene is made a content by `makeContent` (MakeTileContent by
// default); a crash or an exhausted heap there is the file's verdict.
using SummariseTile = SceneSummary (*)(const osg::Node& scene, const CheckRequest& request);
int ServeTileChecks(SummariseTile summarise = nullptr, MakeContent makeContent = nullptr);

// Notes the size of an allocation the heap could not meet, for the out-of-memory reply: the
// worker's allocation functions call it before the new-handler. It allocates nothing.
void NoteFailedAllocation(std::size_t bytes) noexcept;

} // namespace brindle
