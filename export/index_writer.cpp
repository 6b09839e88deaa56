#include "export/index_writer.h"

#include "export/registry_options.h"

#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <cerrno>
#include <cstdio>
#include <random>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace brindle {
namespace fs = std::filesystem;
namespace {

std::optional<std::string> SerialiseOsgb(const osg::Node& node) {
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
    if (!writer)
        return std::nullopt;
    const osg::ref_ptr<osgDB::Options> options = CopyOfRegistryOptions();
    const std::string existing = options->getOptionString();
    options->setOptionString((existing.empty() ? "" : existing + " ") +
                             "TargetFileVersion=" + std::to_string(kIndexFileVersion));
    options->setPluginStringData("fileType", "Binary");

    std::ostringstream out(std::ios::out | std::ios::binary);
    const osgDB::ReaderWriter::WriteResult result = writer->writeNode(node, out, options.get());
    if (!result.success())
        return std::nullopt;
    return std::move(out).str();
}

fs::path TemporaryPathBeside(const fs::path& target) {
    std::random_device random;
    std::ostringstream name;
    name << '.' << target.filename().string() << ".tmp-" << std::hex << random();
    return target.parent_path() / name.str();
}

bool SyncToDisk(FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

std::error_code LastError() {
    return {errno, std::generic_category()};
}

// Writes and flushes `bytes` to a new file; returns the cause on failure.
std::error_code WriteDurably(const fs::path& path, const std::string& bytes) {
#ifdef _WIN32
    FILE* file = _wfopen(path.c_str(), L"wbx");
#else
    FILE* file = std::fopen(path.c_str(), "wbx");
#endif
    if (!file)
        return LastError();
    std::error_code cause;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fflush(file) != 0 || !SyncToDisk(file))
        cause = LastError();
    if (std::fclose(file) != 0 && !cause)
        cause = LastError();
    return cause;
}

} // namespace

std::optional<Problem> WriteIndexFile(const osg::Node& node, const fs::path& target) {
    const std::optional<std::string> bytes = SerialiseOsgb(node);
    if (!bytes)
        return Problem{ProblemKind::NoIndexWriter, target, {}};

    const fs::path temporary = TemporaryPathBeside(target);
    std::error_code cause = WriteDurably(temporary, *bytes);
    if (!cause)
        fs::rename(temporary, target, cause);
    if (cause) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return Problem{ProblemKind::WriteFailed, target, cause};
    }
    return std::nullopt;
}

} // namespace brindle
