#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace brindle::bench {

// Reads every byte of `files` with `threads` readers, each taking the next file in turn as
// an export's workers take tiles; returns the bytes read. With one reader it also serves to
// bring files into the page cache.
std::uintmax_t ReadFiles(const std::vector<std::filesystem::path>& files, unsigned threads = 1);

// Writes dirty pages out and drops the page cache, dentries and inodes; false where the
// system does not allow it (not root, or /proc/sys read-only as in most containers).
bool DropPageCache();

} // namespace brindle::bench
