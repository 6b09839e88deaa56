#include "export/worker/tile_check_worker.h"

#include <cstdio>
#include <cstring>

// The tile-check worker. brindle-export and brindle start it themselves; it reads no
// arguments but the one that says it was started by them.
int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--serve") != 0) {
        std::fprintf(stderr, "brindle-tile-check: checks tiles for brindle-export and brindle, "
                             "which start it; it is not run by hand\n");
        return 2;
    }
    return brindle::ServeTileChecks();
}
