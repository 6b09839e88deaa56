#pragma once

#include <map>
#include <sstream>
#include <string>

namespace brindle::bench {

// A viewing process's figures by name, as its "result KEY VALUE" lines give them.
using Results = std::map<std::string, double>;

inline Results ParseResults(const std::string& text) {
    Results results;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string tag, key;
        double value = 0;
        if (words >> tag >> key >> value && tag == "result") {
            results[key] = value;
        }
    }
    return results;
}

} // namespace brindle::bench
