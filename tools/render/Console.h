#pragma once

// tessaly-render's stderr: its own one-line messages, progress while stderr is a terminal,
// and the libraries' console trace (qDebug), which is passed on only with --verbose.

#include <QString>

namespace console {

// Set once at start-up, before any library writes to the console.
void setVerbose(bool verbose);
bool verbose();
// Installs the Qt message handler that keeps the trace off stderr unless verbose; decides
// whether progress lines are shown (stderr is a terminal).
void install();

// One line on stderr, prefixed with the tool's name (line breaks in `message` become spaces).
void say(const QString &message);
// The same, only when stderr is a terminal.
void progress(const QString &message);

} // namespace console
