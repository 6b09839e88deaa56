#include "tests/export/test_fixtures.h"

#include "export/isolation/worker_process.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/ProxyNode>
#include <osg/Shape>
#include <osg/ShapeDrawable>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
#endif

namespace brindle::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device random;
    std::ostringstream name;
    name << "brindle-test-" << std::hex << random() << random();
    path_ = fs::temp_directory_path() / name.str();
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void WriteTile(const fs::path& folder) {
    fs::create_directories(folder);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
    ASSERT_TRUE(osgDB::writeNodeFile(*geode, (folder / "root.osgb").string()));
}

void WriteSizedTile(const fs::path& folder, std::uint64_t bytes, unsigned seed) {
    fs::create_directories(folder);
    // The file is the vertex array's bytes and a header of a few hundred bytes; random
    // coordinates, so that no writer option could shrink it.
    const std::uint64_t vertices = std::max<std::uint64_t>(1, bytes / sizeof(osg::Vec3) + 1);
    std::mt19937 random(seed);
    osg::ref_ptr<osg::Vec3Array> points = new osg::Vec3Array;
    points->reserve(vertices);
    for (std::uint64_t i = 0; i < vertices; ++i)
        points->push_back(osg::Vec3(random() % 100000 / 1000.0f, random() % 100000 / 1000.0f,
                                    random() % 10000 / 1000.0f));
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(points);
    geometry->addPrimitiveSet(
        new osg::DrawArrays(GL_POINTS, 0, static_cast<GLsizei>(points->size())));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    const fs::path file = folder / "root.osgb";
    ASSERT_TRUE(osgDB::writeNodeFile(*geode, file.string())) << file;
    std::error_code ec;
    const std::uintmax_t written = fs::file_size(file, ec);
    ASSERT_FALSE(ec) << file;
    // A tile short of its size would quietly test the small-tile path instead.
    ASSERT_GE(written, bytes) << file;
}

void WriteHeavyTile(const fs::path& folder, std::uint64_t vertices) {
    fs::create_directories(folder);
    osg::ref_ptr<osg::Vec3Array> points = new osg::Vec3Array;
    points->reserve(vertices);
    for (std::uint64_t i = 0; i < vertices; ++i)
        points->push_back(osg::Vec3(float(i % 4), float(i / 4 % 4), 0.0f));
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(points);
    geometry->addPrimitiveSet(
        new osg::DrawArrays(GL_POINTS, 0, static_cast<GLsizei>(points->size())));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    const fs::path file = folder / "root.osgb";
    const osg::ref_ptr<osgDB::Options> compressed = new osgDB::Options("Compressor=zlib");
    ASSERT_TRUE(osgDB::writeNodeFile(*geode, file.string(), compressed.get())) << file;
}

void WriteText(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << text;
    ASSERT_TRUE(out.good()) << file;
}

fs::path CountingWorker(const fs::path& dir, const fs::path& log) {
    const fs::path script = dir / "worker.sh";
    WriteText(script, "#!/bin/sh\necho started >> '" + log.string() + "'\nexec '" +
                          DefaultWorkerProgram().string() + "' \"$@\"\n");
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it)
        files[it->path().lexically_relative(folder).generic_string()] =
            it->is_regular_file() ? ReadBytes(it->path()) : std::string("(folder)");
    return files;
}

IndexContents ReadIndex(const fs::path& file) {
    IndexContents contents;
    const osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(file.string());
    contents.loaded = node.valid();
    const auto* transform = dynamic_cast<const osg::MatrixTransform*>(node.get());
    if (!transform || transform->getNumChildren() != 1)
        return contents;
    const auto* proxy = dynamic_cast<const osg::ProxyNode*>(transform->getChild(0));
    if (!proxy)
        return contents;
    contents.isTransformOverOneProxy = true;
    contents.translation = transform->getMatrix().getTrans();
    for (unsigned i = 0; i < proxy->getNumFileNames(); ++i)
        contents.entries.push_back(proxy->getFileName(i));
    contents.loadedTiles = proxy->getNumChildren();
    return contents;
}

#ifdef _WIN32
namespace {

bool Exists(const fs::path& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A junction: an empty folder whose reparse data leads to `target`, an absolute folder path.
bool MakeJunction(const fs::path& target, const fs::path& link) {
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return false;
    const HANDLE folder =
        CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool made = false;
    if (folder != INVALID_HANDLE_VALUE) {
        // The mount-point form of the reparse data: the tag, the data's length, a reserved
        // word, the offsets and lengths (in bytes) of the name the system follows and of the
        // name shown, then both names, each ending in a null.
        const std::wstring followed = L"\\??\\" + target.wstring();
        const std::wstring shown = target.wstring();
        const auto bytes = [](const std::wstring& name) {
            return static_cast<WORD>(name.size() * sizeof(wchar_t));
        };
        const WORD names = static_cast<WORD>(bytes(followed) + bytes(shown) + 2 * sizeof(wchar_t));
        const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        const WORD header[] = {
            static_cast<WORD>(4 * sizeof(WORD) + names), 0,           0, bytes(followed),
            static_cast<WORD>(bytes(followed) + 2),      bytes(shown)};
        std::vector<char> data(sizeof tag + sizeof header + names, 0);
        std::memcpy(data.data(), &tag, sizeof tag);
        std::memcpy(data.data() + sizeof tag, header, sizeof header);
        char* const text = data.data() + sizeof tag + sizeof header;
        std::memcpy(text, followed.c_str(), bytes(followed));
        std::memcpy(text + bytes(followed) + sizeof(wchar_t), shown.c_str(), bytes(shown));
        DWORD returned = 0;
        made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(),
                               static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr);
        CloseHandle(folder);
    }
    if (!made)
        RemoveDirectoryW(link.c_str());
    return made;
}

// Under Wine: the host's "ln -s", which a Windows program can start there. Wine returns no
// handle to wait on for a host program, so the link is awaited.
bool MakeHostLink(const fs::path& target, const fs::path& link) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName)
        return false;
    const auto hostPath = [&](const fs::path& path) {
        char* const name = unixName(path.c_str());
        const std::string utf8 = name ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
        return fs::u8path(utf8).wstring();
    };
    const std::wstring hostTarget =
        target.is_absolute() ? hostPath(target) : fs::path(target).generic_wstring();
    std::wstring command = L"Z:\\bin\\ln -s -- \"" + hostTarget + L"\" \"" + hostPath(link) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &started))
        return false;
    if (started.hProcess)
        CloseHandle(started.hProcess);
    if (started.hThread)
        CloseHandle(started.hThread);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!Exists(link) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Exists(link);
}

} // namespace

bool MakeLink(const fs::path& target, const fs::path& link) {
    const fs::path absolute = (link.parent_path() / target).lexically_normal();
    const bool folder = fs::is_directory(absolute);
    if (folder && MakeJunction(absolute.has_filename() ? absolute : absolute.parent_path(), link))
        return true;
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (folder)
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    // Wine's call reports success and makes nothing, hence the look.
    if (CreateSymbolicLinkW(link.c_str(), fs::path(target).make_preferred().c_str(), flags) &&
        Exists(link))
        return true;
    return MakeHostLink(target, link);
}
#else
bool MakeLink(const fs::path& target, const fs::path& link) {
    std::error_code ec;
    fs::create_symlink(target, link, ec);
    return !ec;
}
#endif

unsigned OsgbFileVersion(const fs::path& file) {
    const std::string bytes = ReadBytes(file);
    // Two magic words, the scene type, then the version, each 32 bits.
    constexpr std::size_t kVersionOffset = 12;
    unsigned version = 0;
    if (bytes.size() >= kVersionOffset + sizeof version)
        std::memcpy(&version, bytes.data() + kVersionOffset, sizeof version);
    return version;
}

} // namespace brindle::test
