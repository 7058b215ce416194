#pragma once
// The checks of the Windows test programs, which run under Wine without a test
// framework: a failed check is printed, and the program ends with the line
// "N passed, N failed" that scripts/run-wine-tests.sh adds up.

#include <atomic>
#include <cstdio>
#include <string>

namespace wincheck {

inline std::atomic<int> passed{0}, failed{0};

inline void Check(bool condition, const std::string& what, int line) {
    ++(condition ? passed : failed);
    if (!condition) {
        std::printf("FAILED line %d: %s\n", line, what.c_str());
        std::fflush(stdout);
    }
}

inline int Summary() {  // the exit code
    std::printf("%d passed, %d failed\n", passed.load(), failed.load());
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

}  // namespace wincheck

#define CHECK(condition) ::wincheck::Check((condition), #condition, __LINE__)
