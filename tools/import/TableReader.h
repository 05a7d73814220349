#pragma once

#include "tools/import/ImportGrid.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Column text as PIV software, point tables, OpenFOAM's sets and numpy.savetxt write it:
// one point per line, fields separated by blanks or by commas, '#' starting a comment, an
// optional first line of column names (also as the comment line just before the data),
// names perhaps with a unit in brackets. NaN, nan or an empty field (between commas) is a
// missing value.
namespace tessimport {

struct TableColumns
{
    // A column name (any case, unit in brackets optional) or a 1-based column number; empty
    // = the default choice: the columns named x, y, u, v (or U_x, U_y and the like), else the
    // first four; a table without names and more than four columns needs u and v named. The
    // scalar is the first named column left over that is no z or w, or none.
    QString x, y, u, v, scalar;
};

struct TableInfo
{
    QStringList names;      // header names, or "1", "2", ... without a header
    bool header = false;
    int rows = 0;
    int columnX = -1, columnY = -1, columnU = -1, columnV = -1, columnScalar = -1; // 0-based
};

// Parses the table and picks its columns; no grid check yet. Fails with a one-line
// message (line numbers count from 1).
bool inspectTable(const QByteArray &text, const TableColumns &choice, TableInfo &info, QString &error);

// Parses the table and arranges its rows as a grid, x fastest (a table with y fastest is
// transposed). Rows that do not form a structured grid are refused with what was found.
// `warnings` gets a line for each u or v column that holds one value in every row.
bool readTable(const QByteArray &text, const TableColumns &choice, Grid &g, QString &error, QStringList *warnings = nullptr);

// The --list report of a table.
QString describeTable(const TableInfo &info);

} // namespace tessimport
