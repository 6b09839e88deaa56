#pragma once

#include <string>
#include <vector>

namespace brindle {

// The program's arguments as UTF-8, read from the wide command line. The narrow argv that
// main receives on Windows is in the ANSI code page, which cannot hold every folder name
// (Chinese names on a Western system, say).
class Utf8Arguments {
public:
    Utf8Arguments(); // argc() is 0 if the command line could not be read

    int argc() const { return static_cast<int>(arguments_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> arguments_;
    std::vector<char*> pointers_; // into arguments_, ending with a null pointer
};

// Lets a console show the UTF-8 the program prints (paths, as std::filesystem gives them).
void PrintUtf8ToConsole();

} // namespace brindle
