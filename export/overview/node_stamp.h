#pragma once

#include "export/fs/regular_file.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace brindle {

// A node file as its run left it: the system's facts of it (identity, size, write and change
// times) and a hash of its bytes. A later run takes the file only while it still holds these
// bytes: anyone may have cut, replaced or rewritten it since, even setting its size and write
// time back.
struct NodeFileStamp {
    FileFacts facts;
    std::uint64_t content = 0;

    bool operator==(const NodeFileStamp& other) const {
        return facts.size == other.facts.size && facts.device == other.facts.device &&
               facts.inode == other.facts.inode && facts.modified == other.facts.modified &&
               facts.changed == other.facts.changed && content == other.content;
    }
};

// A hash of a node file's bytes, eight at a step: it tells a file that changed from one that
// did not, and need not stand against anyone who means to collide it.
std::uint64_t NodeContentHash(std::string_view bytes);

// The stamp of `file` as it is now, its bytes hashing to `content` (which the caller knows:
// it wrote them, or took the file from one whose stamp said so). Without facts from the system
// the stamp holds no identity, and the file is read whole the next time before it is taken.
NodeFileStamp StampNodeFile(const std::filesystem::path& file, std::uint64_t content);

// True when `file` is still the file `recorded` describes: a regular file (not a link) that is
// unchanged by the system's facts, or that has the recorded size and write time and bytes that
// hash as recorded (read whole, bounded, as after a copy or a restore). A file missing, cut,
// grown, or rewritten in place is not.
bool NodeFileHolds(const std::filesystem::path& file, const NodeFileStamp& recorded);

} // namespace brindle
