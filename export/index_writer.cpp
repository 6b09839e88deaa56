#include "export/index_writer.h"

#include "export/registry_options.h"

#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

std::string Describe(const fs::path& path, const std::string& cause) {
    return path.string() + ": " + cause;
}

std::string SerialiseOsgb(const osg::Node& node, std::string& error) {
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
    if (!writer) {
        error = "no .osgb writer plugin is installed";
        return {};
    }
    const osg::ref_ptr<osgDB::Options> options = CopyOfRegistryOptions();
    const std::string existing = options->getOptionString();
    options->setOptionString((existing.empty() ? "" : existing + " ") +
                             "TargetFileVersion=" + std::to_string(kIndexFileVersion));
    options->setPluginStringData("fileType", "Binary");

    std::ostringstream out(std::ios::out | std::ios::binary);
    const osgDB::ReaderWriter::WriteResult result = writer->writeNode(node, out, options.get());
    if (!result.success()) {
        error = "the scene could not be serialised" +
                (result.message().empty() ? std::string() : " (" + result.message() + ")");
        return {};
    }
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

// Writes and flushes `bytes` to a new file; returns the cause on failure.
std::string WriteDurably(const fs::path& path, const std::string& bytes) {
#ifdef _WIN32
    FILE* file = _wfopen(path.c_str(), L"wbx");
#else
    FILE* file = std::fopen(path.c_str(), "wbx");
#endif
    if (!file)
        return std::strerror(errno);
    std::string cause;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fflush(file) != 0 || !SyncToDisk(file))
        cause = std::strerror(errno);
    if (std::fclose(file) != 0 && cause.empty())
        cause = std::strerror(errno);
    return cause;
}

} // namespace

std::string WriteIndexFile(const osg::Node& node, const fs::path& target) {
    std::string error;
    const std::string bytes = SerialiseOsgb(node, error);
    if (!error.empty())
        return Describe(target, error);

    const fs::path temporary = TemporaryPathBeside(target);
    std::string cause = WriteDurably(temporary, bytes);
    if (cause.empty()) {
        std::error_code ec;
        fs::rename(temporary, target, ec);
        if (ec)
            cause = ec.message();
    }
    if (!cause.empty()) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return Describe(target, "cannot be written: " + cause);
    }
    return {};
}

} // namespace brindle
