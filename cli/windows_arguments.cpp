#include "cli/windows_arguments.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>

namespace brindle {
namespace {

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    bytes.pop_back(); // the terminating null
    return bytes;
}

struct LocalFreeDeleter {
    void operator()(wchar_t** p) const { LocalFree(p); }
};

} // namespace

Utf8Arguments::Utf8Arguments() {
    int count = 0;
    const std::unique_ptr<wchar_t*, LocalFreeDeleter> wide(
        CommandLineToArgvW(GetCommandLineW(), &count));
    if (wide)
        for (int i = 0; i < count; ++i)
            arguments_.push_back(Utf8(wide.get()[i]));
    for (std::string& argument : arguments_)
        pointers_.push_back(argument.data());
    pointers_.push_back(nullptr);
}

void PrintUtf8ToConsole() {
    SetConsoleOutputCP(CP_UTF8);
}

} // namespace brindle
