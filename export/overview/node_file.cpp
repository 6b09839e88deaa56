#include "export/overview/node_file.h"

#include "export/fs/regular_file.h"
#include "export/system/registry_options.h"

#include <osgDB/Callbacks>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <algorithm>
#include <sstream>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "export/fs/file_descriptor.h"

#include <fcntl.h>
#include <unistd.h>
#endif

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The binary writer embeds an image "as its file" by first looking for a file of the image's
// name to copy: one of that name in the working folder or on the data path would be copied
// into the node instead of the texture. This search finds nothing, so the writer always
// encodes the image itself.
class FindNoFile : public osgDB::FindFileCallback {
public:
    std::string findDataFile(const std::string&, const osgDB::Options*,
                             osgDB::CaseSensitivity) override {
        return {};
    }
};

#ifdef _WIN32
std::error_code LastError() {
    return SystemError(static_cast<int>(GetLastError()));
}

Status CreateWhole(const fs::path& file, std::string_view bytes) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    std::error_code ec;
    while (!bytes.empty() && !ec) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr))
            ec = LastError();
        bytes.remove_prefix(written);
    }
    if (!CloseHandle(handle) && !ec)
        ec = LastError();
    if (ec)
        DeleteFileW(file.c_str());
    return ec;
}
#else
Status WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return LastPosixError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

Status CreateWhole(const fs::path& file, std::string_view bytes) {
    FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        return LastPosixError();
    Status status = WriteAll(fd.get(), bytes);
    if (const Status closed = fd.close(); status)
        status = closed;
    if (!status)
        ::unlink(file.c_str());
    return status;
}
#endif

} // namespace

NodeFileCalls SystemNodeFileCalls() {
    return NodeFileCalls{CreateWhole};
}

std::string NodeFileName(int level, std::int64_t x, std::int64_t y) {
    return "L" + std::to_string(level) + "_" + std::to_string(x) + "_" + std::to_string(y) +
           ".osgb";
}

std::optional<std::string> SerialiseNodeFile(const osg::Node& node, int jpegQuality) {
    osgDB::Registry* registry = osgDB::Registry::instance();
    osgDB::ReaderWriter* writer = registry->getReaderWriterForExtension("osgb");
    if (!writer || !registry->getReaderWriterForExtension("jpg"))
        return std::nullopt;
    const osg::ref_ptr<osgDB::Options> options = CopyOfRegistryOptions();
    // The JPEG writer reads its quality from the option string; the binary writer its own
    // settings from the plugin data.
    options->setOptionString("JPEG_QUALITY " + std::to_string(std::clamp(jpegQuality, 1, 100)));
    options->setPluginStringData("fileType", "Binary");
    options->setPluginStringData("TargetFileVersion", std::to_string(kNodeFileVersion));
    options->setPluginStringData("WriteImageHint", "IncludeFile");
    options->setFindFileCallback(new FindNoFile);

    std::ostringstream out(std::ios::out | std::ios::binary);
    const osgDB::ReaderWriter::WriteResult result = writer->writeNode(node, out, options.get());
    if (!result.success())
        return std::nullopt;
    return std::move(out).str();
}

} // namespace brindle
