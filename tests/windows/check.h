// The smallest harness that runs under Wine without GoogleTest: each check prints one
// line, and the program's status counts the failures.
#pragma once

#include <cstdio>
#include <string>

namespace windows_test {

inline int failures = 0;

inline void check(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
    std::fflush(stdout);
    failures += ok ? 0 : 1;
}

inline int finish()
{
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}

} // namespace windows_test
