#pragma once

#include "export/tiles3d/file_conversion.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace brindle::test {

// One file converted in this process, as a worker would: read with the scene-graph library's
// plain reader, its own level written as `job.glb`, the files its paged nodes name.
ConvertedFile ConvertInProcess(const ConversionJob& job);

// A converter of a few threads of this process, standing for the workers: each job is
// converted on one of them and answered from there. Counts the conversions of each file.
class InProcessConverter {
public:
    explicit InProcessConverter(unsigned threads = 3);
    ~InProcessConverter();
    InProcessConverter(const InProcessConverter&) = delete;
    InProcessConverter& operator=(const InProcessConverter&) = delete;

    void convert(ConversionJob job, FileConversions::Done done);
    // The converter the walk takes.
    std::function<void(ConversionJob, FileConversions::Done)> function() {
        return [this](ConversionJob job, FileConversions::Done done) {
            convert(std::move(job), std::move(done));
        };
    }
    // How often each file was converted, by its path made canonical.
    std::map<std::string, int> calls() const;
    std::size_t callCount() const;
    // The most conversions given and not yet answered at one time.
    std::size_t mostInFlight() const;

    // Answers for the files named here instead of converting them.
    std::map<std::string, ConvertedFile> answers;

private:
    void work();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<ConversionJob, FileConversions::Done>> jobs_;
    std::map<std::string, int> calls_;
    std::size_t inFlight_ = 0, mostInFlight_ = 0;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

// What the files below an index are, read with the scene-graph library's plain reader: the
// files each names through its paged nodes, by path made canonical, and whether it loads.
struct FileOnDisk {
    bool loads = false;
    std::vector<std::string> finer;
    // Per finer file: its paged node's switch (pixels or not), threshold, radius.
    std::vector<FinerFile> switches;
};
std::map<std::string, FileOnDisk> FilesBelowIndex(const std::filesystem::path& index);

std::string Canonical(const std::filesystem::path& file);

} // namespace brindle::test
