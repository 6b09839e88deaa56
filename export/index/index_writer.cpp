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

namespace {

// `file` as it lies on disk, when it holds exactly `bytes` and did not change while it was
// read; nothing otherwise. Whatever replaced the file meanwhile has another identity or stamp.
FileFacts FactsIfHolding(const fs::path& file, std::string_view bytes) {
    const Result<FileFacts> before = LookAt(file);
    if (!before || before->size != bytes.size())
        return {};
    RegularFile opened;
    const Result<RegularFile::Opened> how = opened.open(file);
    if (!how || *how != RegularFile::Opened::Yes || opened.size() != bytes.size())
        return {};
    std::string read(bytes.size(), '\0');
    if (const Result<std::size_t> got = opened.read(read.data(), read.size());
        !got || *got != read.size() || read != bytes)
        return {};
    const Result<FileFacts> after = LookAt(file);
    if (!after || !Unchanged(*before, *after))
        return {};
    return *before;
}

} // namespace

IndexWrite WriteIndexFile(const osg::Node& node, const fs::path& target,
                          const AtomicFileCalls& calls) {
    IndexWrite write;
    const std::optional<std::string> bytes = SerialiseIndex(node);
    if (!bytes) {
        write.error = Problem{ProblemKind::NoIndexWriter, target, {}};
        return write;
    }
    // An index already in place with exactly these bytes is left as it is, as the re-run of an
    // unchanged folder finds it: writing it again would change nothing but its identity and
    // times, at the cost of a file, two flushes and a rename. Not through a link, which the
    // write would replace with the file itself.
    if (!IsLink(target)) {
        const FileFacts existing = FactsIfHolding(target, *bytes);
        if (existing.type == fs::file_type::regular) {
            write.placed = existing;
            write.alreadyInPlace = true;
            return write;
        }
    }
    const Result<FileReplaced> replaced = ReplaceFileAtomically(target, *bytes, calls);
    if (!replaced)
        write.error = Problem{ProblemKind::WriteFailed, target, replaced.error()};
    else if (replaced->notFlushed)
        write.warning = Problem{ProblemKind::IndexNotFlushed, target, replaced->notFlushed};
    if (replaced)
        write.placed = FactsIfHolding(target, *bytes);
    return write;
}

} // namespace brindle
