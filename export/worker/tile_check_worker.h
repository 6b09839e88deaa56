#pragma once

namespace brindle {

// The tile-check worker's main loop: reads requests from standard input and answers each on
// standard output until the input ends. Sets up the process for it first: the scene-graph
// library's messages are kept for replies instead of printed, anything else written to standard
// output is sent nowhere, and the process ends with its parent. Returns the process's exit status.
int ServeTileChecks();

} // namespace brindle
