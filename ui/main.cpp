#include "app.h"

#include "export/system/heap_reuse.h"

int main(int argc, char** argv) {
    brindle::KeepFreedMemoryForReuse();
    CBrindleApp app(argc, argv);
    return app.run();
}
