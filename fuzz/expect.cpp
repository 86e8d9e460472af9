#include "fuzz_entries.h"

#include <cstdio>
#include <cstdlib>

void expect(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::fflush(stderr);
    std::abort();
}
