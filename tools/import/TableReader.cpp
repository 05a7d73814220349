#include "tools/import/TableReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace tessimport {

namespace {

using Field = std::string_view;

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

Field trim(Field f)
{
    while (!f.empty() && blank(f.front()))
        f.remove_prefix(1);
    while (!f.empty() && blank(f.back()))
        f.remove_suffix(1);
    return f;
}

// Splits one line (comment already cut off) into fields: by commas when it has one, else
// by runs of blanks. Returns false for a line without any field.
bool split(Field line, std::vector<Field> &fields)
{
    fields.clear();
    line = trim(line);
    if (line.empty())
        return false;
    if (line.find(',') != Field::npos) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = line.find(',', start);
            fields.push_back(trim(line.substr(start, comma == Field::npos ? Field::npos : comma - start)));
            if (comma == Field::npos)
                break;
            start = comma + 1;
        }
    } else {
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && blank(line[i]))
                ++i;
            const std::size_t b = i;
            while (i < line.size() && !blank(line[i]))
                ++i;
            if (i > b)
                fields.push_back(line.substr(b, i - b));
        }
    }
    return true;
}

enum class Kind { Number, Missing, Text };

// A field as a value: decimal numbers in the C notation whatever the locale, NaN in any
// case or an empty field as missing (NaN).
Kind parse(Field f, double &value)
{
    if (f.empty()) {
        value = NAN;
        return Kind::Missing;
    }
    if (f.size() == 3 && (f[0] | 0x20) == 'n' && (f[1] | 0x20) == 'a' && (f[2] | 0x20) == 'n') {
        value = NAN;
        return Kind::Missing;
    }
    const char *b = f.data();
    const char *e = b + f.size();
    if (*b == '+' && e - b > 1 && b[1] != '-')
        ++b;
    const auto r = std::from_chars(b, e, value);
    if (r.ec == std::errc::result_out_of_range) {
        // Beyond the double range: keep the sign, the point becomes non-finite.
        value = *b == '-' ? -INFINITY : INFINITY;
        return r.ptr == e ? Kind::Number : Kind::Text;
    }
    return r.ec == std::errc() && r.ptr == e ? Kind::Number : Kind::Text;
}

QString show(Field f)
{
    QString s = QString::fromUtf8(f.data(), static_cast<qsizetype>(std::min<std::size_t>(f.size(), 40)));
    return f.size() > 40 ? s + QStringLiteral("...") : s;
}

// Resolves one column choice; -1 with an error when it names nothing.
int resolve(const QString &column, const QStringList &names, bool header, QString &error)
{
    if (header) {
        for (int i = 0; i < names.size(); ++i)
            if (names[i].compare(column, Qt::CaseInsensitive) == 0)
                return i;
    }
    bool isNumber = false;
    const int n = column.toInt(&isNumber);
    if (isNumber && n >= 1 && n <= names.size())
        return n - 1;
    if (isNumber)
        error = QStringLiteral("no column %1: the table has %2 columns").arg(column).arg(names.size());
    else
        error = QStringLiteral("no column named '%1' (columns: %2)").arg(column, names.join(QStringLiteral(", ")));
    return -1;
}

struct Parsed
{
    TableInfo info;
    std::vector<double> x, y, u, v, s;
};

class Lines
{
public:
    explicit Lines(const QByteArray &t) : mP(t.constData()), mEnd(t.constData() + t.size())
    {
        if (t.startsWith("\xEF\xBB\xBF")) // a UTF-8 mark, as spreadsheet programs write it
            mP += 3;
    }
    // The next line without its comment, which goes to `comment` (empty without one);
    // false at the end. Lines end with LF, CR LF or a lone CR (old Mac programs).
    bool next(Field &line, Field &comment)
    {
        if (mP >= mEnd)
            return false;
        const char *e = mP;
        while (e < mEnd && *e != '\n' && *e != '\r')
            ++e;
        line = Field(mP, static_cast<std::size_t>(e - mP));
        comment = Field();
        const std::size_t hash = line.find('#');
        if (hash != Field::npos) {
            comment = line.substr(hash + 1);
            line = line.substr(0, hash);
        }
        mP = e < mEnd && *e == '\r' && e + 1 < mEnd && e[1] == '\n' ? e + 2 : e < mEnd ? e + 1 : mEnd;
        ++mNumber;
        return true;
    }
    int number() const { return mNumber; }

private:
    const char *mP;
    const char *mEnd;
    int mNumber = 0;
};

// A blank-separated header writes a name's unit as a field of its own ("x [mm]"): such a
// field joins the name before it.
void joinUnits(std::vector<Field> &fields)
{
    std::vector<Field> joined;
    for (const Field f : fields) {
        if (!joined.empty() && f.size() >= 2 && f.front() == '[' && f.back() == ']'
            && joined.back().data() + joined.back().size() <= f.data())
            joined.back() = Field(joined.back().data(), static_cast<std::size_t>(f.data() + f.size() - joined.back().data()));
        else
            joined.push_back(f);
    }
    fields.swap(joined);
}

// A header name without its unit in brackets, in lower case, for matching.
QString bare(const QString &name)
{
    const qsizetype bracket = name.indexOf(QLatin1Char('['));
    return (bracket > 0 && name.endsWith(QLatin1Char(']')) ? name.left(bracket) : name).trimmed().toLower();
}

// Header names of the default columns: x, y, u, v and what OpenFOAM's sets (U_x U_y) and
// ParaView's tables (Points:0, U:0) call them.
const char *const kNamesX[] = {"x", "points:0", "points_0"};
const char *const kNamesY[] = {"y", "points:1", "points_1"};
const char *const kNamesU[] = {"u", "u_x", "ux", "u:0", "u_0"};
const char *const kNamesV[] = {"v", "u_y", "uy", "u:1", "u_1"};
// Columns that are never a default scalar: the third coordinate and flow component.
const char *const kNotScalar[] = {"z", "points:2", "points_2", "w", "u_z", "uz", "u:2", "u_2"};

// True when one of `fields` is one of `aliases`: a comment line is taken as the header only
// when it names the positions, not for any remark of the right number of words.
template <typename Aliases> bool names(const std::vector<Field> &fields, const Aliases &aliases)
{
    return std::any_of(fields.begin(), fields.end(), [&](Field f) {
        const QString name = bare(QString::fromUtf8(f.data(), static_cast<qsizetype>(f.size())));
        return std::any_of(std::begin(aliases), std::end(aliases), [&](const char *n) { return name == QLatin1String(n); });
    });
}

// The columns to take: named in `choice`, else found by their names, else the first four;
// the scalar named, else the first spare named column that is no third coordinate or
// component (a table without names has none: a spare column there may be z).
bool chooseColumns(const TableColumns &choice, int columns, TableInfo &info, QString &error)
{
    const auto named = [&](const auto &aliases) {
        for (int i = 0; info.header && i < columns; ++i)
            for (const char *n : aliases)
                if (bare(info.names[i]) == QLatin1String(n))
                    return i;
        return -1;
    };
    const int byNames[] = {named(kNamesX), named(kNamesY), named(kNamesU), named(kNamesV)};
    const bool byName = std::all_of(std::begin(byNames), std::end(byNames), [](int c) { return c >= 0; });
    int *chosen[] = {&info.columnX, &info.columnY, &info.columnU, &info.columnV};
    const QString *given[] = {&choice.x, &choice.y, &choice.u, &choice.v};
    for (int k = 0; k < 4; ++k) {
        *chosen[k] = given[k]->isEmpty() ? (byName ? byNames[k] : k) : resolve(*given[k], info.names, info.header, error);
        if (*chosen[k] < 0)
            return false;
    }
    if (!choice.scalar.isEmpty()) {
        info.columnScalar = resolve(choice.scalar, info.names, info.header, error);
        return info.columnScalar >= 0;
    }
    for (int i = 0; info.header && i < columns && info.columnScalar < 0; ++i)
        if (i != info.columnX && i != info.columnY && i != info.columnU && i != info.columnV
            && std::none_of(std::begin(kNotScalar), std::end(kNotScalar),
                            [&](const char *n) { return bare(info.names[i]) == QLatin1String(n); }))
            info.columnScalar = i;
    return true;
}

// The table's first line of fields: a header of names (or, with a commented header line
// before it, the first data line), the column count and the columns to take. `isHeader`
// tells whether the line holds names only.
bool startTable(const std::vector<Field> &fields, const std::vector<Field> &commented, const TableColumns &choice, int lineNumber,
                TableInfo &info, int &columns, bool &isHeader, QString &error)
{
    double value;
    const auto text = [&](Field f) { return parse(f, value) == Kind::Text; };
    info.header = std::any_of(fields.begin(), fields.end(), text);
    bool fromComment = false;
    if (!info.header && commented.size() == fields.size() && std::all_of(commented.begin(), commented.end(), text)
        && names(commented, kNamesX) && names(commented, kNamesY))
        info.header = fromComment = true;
    const std::vector<Field> &names = fromComment ? commented : fields;
    columns = static_cast<int>(fields.size());
    for (int i = 0; i < columns; ++i)
        info.names << (info.header ? QString::fromUtf8(names[i].data(), static_cast<qsizetype>(names[i].size()))
                                   : QString::number(i + 1));
    if (columns < 4) {
        error = QStringLiteral("not a NetCDF file and not a column table: line %1 has %2 field(s), a table needs 4 (x y u v)").arg(lineNumber).arg(columns);
        return false;
    }
    // Without names, the first four of more columns are a guess that has taken z for u
    // (x y z U_x U_y U_z): the user says which columns hold the flow.
    if (!info.header && columns > 4 && (choice.u.isEmpty() || choice.v.isEmpty())) {
        error = QStringLiteral("line %1 has %2 columns and the table has no header line of names: say which hold the "
                               "positions and the flow with --x/--y/--u/--v (column numbers from 1)")
                    .arg(lineNumber).arg(columns);
        return false;
    }
    isHeader = info.header && !fromComment;
    return chooseColumns(choice, columns, info, error);
}

// One data line's values into `out` (with `keepValues`); fails on text or a missing position.
bool takeRow(const std::vector<Field> &fields, int lineNumber, bool keepValues, Parsed &out, QString &error)
{
    const TableInfo &info = out.info;
    const int cols[] = {info.columnX, info.columnY, info.columnU, info.columnV, info.columnScalar};
    std::vector<double> *dest[] = {&out.x, &out.y, &out.u, &out.v, &out.s};
    for (int c = 0; c < static_cast<int>(fields.size()); ++c) {
        double value;
        if (parse(fields[c], value) == Kind::Text) {
            error = QStringLiteral("line %1: '%2' is not a number").arg(lineNumber).arg(show(fields[c]));
            return false;
        }
        for (int k = 0; k < 5; ++k)
            if (keepValues && cols[k] == c)
                dest[k]->push_back(value);
        if ((c == info.columnX || c == info.columnY) && !std::isfinite(value)) {
            error = QStringLiteral("line %1: the position (%2) is missing").arg(lineNumber).arg(info.names[c]);
            return false;
        }
    }
    return true;
}

bool parseTable(const QByteArray &text, const TableColumns &choice, bool keepValues, Parsed &out, QString &error)
{
    if (text.contains('\0')) {
        error = QStringLiteral("not a NetCDF file and not a column table (binary content)");
        return false;
    }
    TableInfo &info = out.info;
    Lines lines(text);
    Field line, comment;
    std::vector<Field> fields, commented;
    int columns = 0;
    bool started = false;
    while (lines.next(line, comment)) {
        if (!split(line, fields)) {
            // The last comment line before the data may be the header ("# x y u v" from
            // numpy.savetxt, "# x y z U_x U_y U_z" from OpenFOAM's sets).
            if (!started && !comment.empty() && split(comment, commented))
                joinUnits(commented);
            else if (!started && !comment.empty())
                commented.clear();
            continue;
        }
        if (!started) {
            started = true;
            bool isHeader = false;
            if (std::any_of(fields.begin(), fields.end(), [](Field f) { double v; return parse(f, v) == Kind::Text; }))
                joinUnits(fields);
            if (!startTable(fields, commented, choice, lines.number(), info, columns, isHeader, error))
                return false;
            if (isHeader)
                continue;
        }
        if (static_cast<int>(fields.size()) != columns) {
            error = QStringLiteral("line %1 has %2 fields, expected %3").arg(lines.number()).arg(fields.size()).arg(columns);
            return false;
        }
        if (!takeRow(fields, lines.number(), keepValues, out, error))
            return false;
        if (static_cast<std::size_t>(++info.rows) > kMaxPoints) {
            error = QStringLiteral("more than %1 rows").arg(kMaxPoints);
            return false;
        }
    }
    if (!started) {
        error = QStringLiteral("not a NetCDF file and not a column table (no data lines)");
        return false;
    }
    if (info.rows == 0) {
        error = QStringLiteral("the table has a header but no data lines");
        return false;
    }
    return true;
}

// A value in single precision; beyond its range the point's value is missing, and counted
// in `beyond` when given.
float single(double v, std::size_t *beyond = nullptr)
{
    const float f = static_cast<float>(v);
    if (beyond && !std::isfinite(f) && !std::isnan(v))
        ++*beyond;
    return std::isfinite(f) ? f : NAN;
}

std::size_t distinct(std::vector<double> a)
{
    std::sort(a.begin(), a.end());
    return static_cast<std::size_t>(std::unique(a.begin(), a.end()) - a.begin());
}

// Length of the leading run of rows whose `a` equals row 0's.
std::size_t run(const std::vector<double> &a)
{
    std::size_t n = 1;
    while (n < a.size() && a[n] == a[0])
        ++n;
    return n;
}

// True when the rows are blocks of `inner` rows, each block sharing one `outer` value
// (distinct from block to block) and repeating block 0's `fast` values in order.
bool blocks(const std::vector<double> &fast, const std::vector<double> &outer, std::size_t inner)
{
    const std::size_t n = fast.size();
    if (inner < 2 || n % inner != 0 || n / inner < 2)
        return false;
    for (std::size_t r = 0; r < n; ++r) {
        if (fast[r] != fast[r % inner] || outer[r] != outer[r - r % inner])
            return false;
        if (r % inner == 0 && r > 0 && outer[r] == outer[r - inner])
            return false;
    }
    return true;
}

} // namespace

bool inspectTable(const QByteArray &text, const TableColumns &choice, TableInfo &info, QString &error)
{
    Parsed p;
    if (!parseTable(text, choice, false, p, error))
        return false;
    info = p.info;
    return true;
}

bool readTable(const QByteArray &text, const TableColumns &choice, Grid &g, QString &error, QStringList *warnings)
{
    Parsed p;
    if (!parseTable(text, choice, true, p, error))
        return false;
    // A flow component of one value everywhere is most often a coordinate or a wrong column.
    for (const auto &[values, column, what] : {std::tuple(&p.u, p.info.columnU, "u"), std::tuple(&p.v, p.info.columnV, "v")}) {
        const auto first = std::find_if(values->begin(), values->end(), [](double d) { return !std::isnan(d); });
        if (warnings && first != values->end() && values->size() > 1
            && std::all_of(first, values->end(), [&](double d) { return std::isnan(d) || d == *first; }))
            *warnings << QStringLiteral("the %1 column %2%3 holds %4 in every row; is it the right column? (--%1)")
                             .arg(QLatin1String(what)).arg(column + 1)
                             .arg(p.info.header ? QStringLiteral(" (%1)").arg(p.info.names[column]) : QString())
                             .arg(*first, 0, 'g', 7);
    }
    const std::size_t n = p.x.size();
    bool xFast = blocks(p.x, p.y, run(p.y));
    const bool yFast = !xFast && blocks(p.y, p.x, run(p.x));
    if (!xFast && !yFast) {
        error = QStringLiteral("rows do not form a grid: %1 distinct x, %2 distinct y, %3 rows")
                    .arg(distinct(p.x)).arg(distinct(p.y)).arg(n);
        return false;
    }
    const std::size_t inner = xFast ? run(p.y) : run(p.x);
    const std::size_t outer = n / inner;
    g = Grid();
    g.nx = static_cast<int>(xFast ? inner : outer);
    g.ny = static_cast<int>(xFast ? outer : inner);
    g.xs.resize(static_cast<std::size_t>(g.nx));
    g.ys.resize(static_cast<std::size_t>(g.ny));
    const bool haveScalar = p.info.columnScalar >= 0;
    g.u.resize(n);
    g.v.resize(n);
    if (haveScalar)
        g.scalar.resize(n);
    for (std::size_t r = 0; r < n; ++r) {
        // Row r holds grid point (i, j); with y fastest the table is the transpose.
        const std::size_t i = xFast ? r % inner : r / inner;
        const std::size_t j = xFast ? r / inner : r % inner;
        const std::size_t k = j * static_cast<std::size_t>(g.nx) + i;
        g.xs[i] = p.x[r];
        g.ys[j] = p.y[r];
        g.u[k] = single(p.u[r], &g.flowBeyondFloat);
        g.v[k] = single(p.v[r], &g.flowBeyondFloat);
        if (haveScalar)
            g.scalar[k] = single(p.s[r]);
    }
    const QStringList &names = p.info.names;
    g.xAxis.name = names[p.info.columnX];
    g.yAxis.name = names[p.info.columnY];
    g.uName = names[p.info.columnU];
    g.vName = names[p.info.columnV];
    if (haveScalar)
        g.scalarName = names[p.info.columnScalar];
    g.format = QStringLiteral("table");
    g.source = QStringLiteral("%1 rows, %2 varying fastest").arg(n).arg(xFast ? QStringLiteral("x") : QStringLiteral("y (transposed)"));
    return true;
}

QString describeTable(const TableInfo &info)
{
    QString s = QStringLiteral("column table, %1 data rows, %2\n").arg(info.rows).arg(info.header ? QStringLiteral("header line of names") : QStringLiteral("no header"));
    s += QStringLiteral("columns:");
    for (int i = 0; i < info.names.size(); ++i)
        s += QStringLiteral(" %1=%2").arg(i + 1).arg(info.names[i]);
    const auto name = [&](int c) { return c < 0 ? QStringLiteral("(none: flow speed)") : info.names[c]; };
    s += QStringLiteral("\nwould use: x = %1, y = %2, u = %3, v = %4, scalar = %5\n")
             .arg(name(info.columnX), name(info.columnY), name(info.columnU), name(info.columnV), name(info.columnScalar));
    return s;
}

} // namespace tessimport
