#pragma once

// tessaly-render's options, declared once: the command-line parser is set up from this table
// and --help is written from it, as are the rules saying which views an option applies to.
// What each value means is read in Options.cpp (and, for the figure options, figure::parse).

#include <QString>

#include <functional>

class QCommandLineParser;

namespace rendertool {

enum class View { None, Arrows, Streamlines, Evenly };

// "arrows", "streamlines", "evenly"; empty for None.
QString viewName(View v);

// The views an option applies to (bits); given with another view, or none, it is a usage
// error rather than a silent no-op.
enum Scope : unsigned {
    Anywhere = 0,
    ArrowView = 1,
    RegularView = 2,
    EvenlyView = 4,
    LineViews = RegularView | EvenlyView,
    AnyView = ArrowView | RegularView | EvenlyView,
};

struct OptionEntry
{
    const char *heading; // --help: a group of options starts here, under this heading; or ""
    const char *names;   // comma separated, one letter for a short name: "o,output"
    const char *value;   // the value's name in --help; "" for a flag
    Scope scope;
    const char *help;    // one paragraph, wrapped by helpText(); "~" is a space it never breaks
};

// The table, in --help order; ends with a null `names`.
const OptionEntry *optionTable();

// Every option of the table, with its names and value.
void addOptions(QCommandLineParser &parser);

// The whole --help text: usage, the formats, each option of the table, exit status.
QString helpText();

// The first option of `scope` that is given while the view is not one of its views, as a
// usage message ("--zoom applies to --view arrows only"); empty when there is none. Options
// are taken in table order.
QString outOfScope(const std::function<bool(const char *)> &has, View view, Scope scope);

} // namespace rendertool
