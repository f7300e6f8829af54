// tolmail fetch (placeholder until the command lands).
#include <cstdio>

#include "commands.h"

namespace tolmail::cli {

int RunFetch(int, char**)
{
    std::fputs("tolmail fetch: not available yet\n", stderr);
    return 2;
}

} // namespace tolmail::cli
