#include "export/index_writer.h"

#include "export/atomic_file.h"
#include "export/registry_options.h"

#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <sstream>

namespace brindle {
namespace fs = std::filesystem;

std::optional<std::string> SerialiseIndex(const osg::Node& node) {
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

std::optional<Problem> WriteIndexFile(const osg::Node& node, const fs::path& target) {
    const std::optional<std::string> bytes = SerialiseIndex(node);
    if (!bytes)
        return Problem{ProblemKind::NoIndexWriter, target, {}};
    if (const std::error_code ec = ReplaceFileAtomically(target, *bytes))
        return Problem{ProblemKind::WriteFailed, target, ec};
    return std::nullopt;
}

} // namespace brindle
