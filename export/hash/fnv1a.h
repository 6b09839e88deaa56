#pragma once

#include <cstdint>
#include <string_view>

namespace brindle {

// The 64-bit FNV-1a hash of the bytes fed to it, in order: quick and stable from run to run
// and machine to machine, for keys and stamps that are kept on disk and compared later. Not
// for security. Callers that feed several fields add their lengths themselves.
class Fnv1a {
public:
    Fnv1a& addByte(unsigned char byte) {
        hash_ ^= byte;
        hash_ *= kPrime;
        return *this;
    }
    Fnv1a& addBytes(std::string_view bytes) {
        for (const char c : bytes)
            addByte(static_cast<unsigned char>(c));
        return *this;
    }
    // The value's eight bytes, lowest first, whatever the machine's own order.
    Fnv1a& addWord(std::uint64_t value) {
        for (int i = 0; i < 8; ++i)
            addByte(static_cast<unsigned char>(value >> (8 * i)));
        return *this;
    }
    std::uint64_t value() const { return hash_; }

private:
    static constexpr std::uint64_t kOffsetBasis = 0xcbf29ce484222325;
    static constexpr std::uint64_t kPrime = 0x100000001b3;
    std::uint64_t hash_ = kOffsetBasis;
};

} // namespace brindle
