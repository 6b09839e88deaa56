#include "export/overview/node_file.h"

#include "export/fs/regular_file.h"
#include "export/system/registry_options.h"

#include <osgDB/Callbacks>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <algorithm>
#include <sstream>

#ifdef _WIN32
#include "export/fs/windows_handle.h"
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
Status CreateWhole(const fs::path& file, std::string_view bytes) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastWindowsError();
    std::error_code ec = WriteAllTo(handle, bytes);
    if (!CloseHandle(handle) && !ec)
        ec = LastWindowsError();
    if (ec)
        DeleteFileW(file.c_str());
    return ec;
}
#else
Status CreateWhole(const fs::path& file, std::string_view bytes) {
    FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        return LastPosixError();
    Status status = WriteAllTo(fd.get(), bytes);
    if (const Status closed = fd.close(); status)
        status = closed;
    if (!status)
        ::unlink(file.c_str());
    return status;
}
#endif

// A node file is a few hundred kilobytes; beyond this one of ours is not taken as it is.
constexpr std::uint64_t kMaxReusedBytes = 256ull << 20;

// The earlier file's bytes, read whole from a regular file, for a copy where no link can be made.
Result<std::string> ReadNodeFile(const fs::path& from) {
    RegularFile file;
    const Result<RegularFile::Opened> opened = file.open(from);
    if (!opened)
        return opened.error();
    if (*opened != RegularFile::Opened::Yes || file.size() > kMaxReusedBytes)
        return SystemError(std::errc::not_supported);
    // One byte more than its size, so that a file grown since the open is seen.
    std::string bytes(static_cast<std::size_t>(file.size()) + 1, '\0');
    const Result<std::size_t> read = file.read(bytes.data(), bytes.size());
    if (!read)
        return read.error();
    if (*read != file.size())
        return SystemError(std::errc::not_supported);
    bytes.resize(*read);
    return bytes;
}

Status ReuseWhole(const fs::path& from, const fs::path& file) {
    // Only a regular file itself is taken: a link put in our folder leads nowhere of ours.
    std::error_code ec;
    if (fs::symlink_status(from, ec).type() != fs::file_type::regular || ec)
        return SystemError(std::errc::not_supported);
    fs::create_hard_link(from, file, ec);
    if (!ec)
        return {};
    if (ec == std::errc::file_exists)
        return SystemError(ec);
    const Result<std::string> bytes = ReadNodeFile(from);
    if (!bytes)
        return bytes.error();
    return CreateWhole(file, *bytes);
}

} // namespace

NodeFileCalls SystemNodeFileCalls() {
    return NodeFileCalls{CreateWhole, ReuseWhole};
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
