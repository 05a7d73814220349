#include "tools/render/Console.h"

#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

namespace console {

namespace {

const char *const kTool = "tessaly-render";

bool gVerbose = false;
bool gProgress = false; // stderr is a terminal

// A failed load's reason comes back from the load as a value, so the trace is only for
// --verbose; critical and fatal messages always pass.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (gVerbose || type == QtCriticalMsg || type == QtFatalMsg) {
        const QByteArray line = message.toLocal8Bit() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    }
}

} // namespace

void setVerbose(bool verbose)
{
    gVerbose = verbose;
}

bool verbose()
{
    return gVerbose;
}

void install()
{
    gProgress = isatty(STDERR_FILENO) != 0;
    qInstallMessageHandler(messageHandler);
}

void say(const QString &message)
{
    QString line = message;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s: %s\n", kTool, qPrintable(line));
}

void progress(const QString &message)
{
    if (gProgress)
        say(message);
}

} // namespace console
