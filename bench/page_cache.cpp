#include "bench/page_cache.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

namespace brindle::bench {
namespace fs = std::filesystem;

std::uintmax_t ReadFiles(const std::vector<fs::path>& files, unsigned threads) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::uintmax_t> total{0};
    const auto reader = [&] {
        std::vector<char> buffer(std::size_t{4} << 20);
        std::uintmax_t bytes = 0;
        for (std::size_t i = next++; i < files.size(); i = next++) {
            std::ifstream in(files[i], std::ios::binary);
            while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
                   in.gcount() > 0) {
                bytes += static_cast<std::uintmax_t>(in.gcount());
            }
        }
        total += bytes;
    };
    std::vector<std::thread> readers;
    for (unsigned t = 1; t < std::max(1u, threads); ++t) {
        readers.emplace_back(reader);
    }
    reader();
    for (auto& thread : readers) {
        thread.join();
    }
    return total;
}

bool DropPageCache() {
    sync();
    std::ofstream control("/proc/sys/vm/drop_caches");
    control << "3\n";
    control.flush();
    return static_cast<bool>(control);
}

} // namespace brindle::bench
