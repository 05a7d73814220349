// libFuzzer target: one input = one column table, read and assembled (see ImportFuzz.h).
// A broken property aborts with its description, so libFuzzer keeps the input as a crash.

#include "ImportFuzz.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace {
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    const QString problem = importfuzz::runTable(bytes, size);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "import fuzz: %s\n", problem.toLocal8Bit().constData());
        std::abort();
    }
    return 0;
}
