#include "export/index/index_writer.h"

#include "export/fs/atomic_file.h"
#include "export/system/registry_options.h"

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

IndexWrite WriteIndexFile(const osg::Node& node, const fs::path& target,
                          const AtomicFileCalls& calls) {
    IndexWrite write;
    const std::optional<std::string> bytes = SerialiseIndex(node);
    if (!bytes) {
        write.error = Problem{ProblemKind::NoIndexWriter, target, {}};
        return write;
    }
    const ReplaceOutcome outcome = ReplaceFileAtomically(target, *bytes, calls);
    if (outcome.error)
        write.error = Problem{ProblemKind::WriteFailed, target, outcome.error};
    else if (outcome.notFlushed)
        write.warning = Problem{ProblemKind::IndexNotFlushed, target, outcome.notFlushed};
    return write;
}

} // namespace brindle
