#pragma once

#include <filesystem>
#include <functional>

namespace brindle {

// True when `a` and `b` differ at most in the case of ASCII letters, as Windows' file systems
// fold the names users copy from them.
bool SameNameIgnoringCase(const std::filesystem::path::string_type& a,
                          const std::filesystem::path::string_type& b);

// A name of a folder's entry, found in any letter case.
struct NameInAnyCase {
    std::filesystem::path name; // as it is on disk; empty when the folder holds none
    // Not there as spelled, but more than one name in other letter case was: the first
    // bytewise was taken.
    bool caseTwins = false;

    bool found() const { return !name.empty(); }
};

// What an entry must be to count (a folder, say); every entry counts without it.
using EntryWanted = std::function<bool(const std::filesystem::path& entry)>;

// The entry `wanted` of `folder` that `accept` takes: the name as spelled where it is there;
// otherwise, from the folder's listing, the first bytewise of the names that are `wanted` in
// other letter case (METADATA.XML, DATA), as tile roots' names are found.
NameInAnyCase FindNameInAnyCase(const std::filesystem::path& folder,
                                const std::filesystem::path& wanted,
                                const EntryWanted& accept = {});

} // namespace brindle
