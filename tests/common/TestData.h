#pragma once
// Paths of the test inputs: the project's own fixtures and the optional public corpus.
#include <filesystem>
#include <string>

namespace testdata {

inline std::filesystem::path fixtures() { return VELKARO_FIXTURES_DIR; }

// The public conformance corpus; tests call GTEST_SKIP() when corpus() is empty.
inline std::filesystem::path corpus(const std::string& sub = {}) {
    std::filesystem::path p = VELKARO_TESTDATA_DIR;
    if (!sub.empty()) p /= sub;
    std::error_code ec;
    return std::filesystem::exists(p, ec) ? p : std::filesystem::path();
}

}  // namespace testdata
