// libFuzzer target: one input = one column table (TESSALY_FUZZ_TABLE) or one NetCDF classic
// image (TESSALY_FUZZ_NETCDF), read and assembled (see ImportFuzz.h).
// A broken property aborts with its description, so libFuzzer keeps the input as a crash.

#include "tools/import/fuzz/ImportFuzz.h"

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
#if defined(TESSALY_FUZZ_NETCDF)
    const QString problem = importfuzz::runNetcdf(bytes, size);
#else
    const QString problem = importfuzz::runTable(bytes, size);
#endif
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "import fuzz: %s\n", problem.toLocal8Bit().constData());
        std::abort();
    }
    return 0;
}
