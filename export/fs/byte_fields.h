#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace brindle {

// Plain fields in the machine's own byte order, for what this program writes and reads back
// itself: its workers' messages, its caches, its scratch files.

template <typename T> void PutField(std::string& out, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

// Reads the bytes of a `T` from `in`, moving past them; false, and `in` as it was, when too
// few are left.
template <typename T> bool TakeField(std::string_view& in, T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (in.size() < sizeof value)
        return false;
    std::memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return true;
}

} // namespace brindle
