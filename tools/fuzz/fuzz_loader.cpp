// libFuzzer target: one input = one dataset pair, loaded and resampled (see LoaderFuzz.h).
// A broken property aborts with its description, so libFuzzer keeps the input as a crash.

#include "tools/fuzz/LoaderFuzz.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    loaderfuzz::silenceConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    const QString problem = loaderfuzz::runOne(bytes, size);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "loader fuzz: %s\n", problem.toLocal8Bit().constData());
        std::abort();
    }
    return 0;
}
