// A second process for the lock's tests: takes the lock of the folder named first and holds it,
// as a run at work on that folder does, until its standard input ends (or it is killed). With
// --make-overview it then makes an overview folder there, as such a run does first, and names it.
// Prints "held" once it holds the lock, "busy" when another holds it.

#include "export/fs/folder_lock.h"
#include "export/fs/overview_folder.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const std::filesystem::path folder = argv[1];
    brindle::Result<brindle::FolderLock> lock = brindle::TakeFolderLock(folder);
    if (!lock) {
        std::cout << (brindle::IsFolderLockHeld(lock.error()) ? "busy" : "failed") << std::endl;
        return 1;
    }
    if (!lock->held()) {
        std::cout << "no lock here" << std::endl;
        return 1;
    }
    std::string made;
    if (argc > 2 && std::strcmp(argv[2], "--make-overview") == 0) {
        const brindle::Result<std::filesystem::path> folderMade =
            brindle::MakeOverviewFolder(folder);
        if (!folderMade)
            return 1;
        made = " " + folderMade->string();
    }
    std::cout << "held" << made << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
