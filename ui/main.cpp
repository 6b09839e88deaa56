#include "app.h"

int main(int argc, char** argv) {
    CBrindleApp app(argc, argv);
    return app.run();
}
