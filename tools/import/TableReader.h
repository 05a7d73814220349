#pragma once

#include "ImportGrid.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Column text as PIV software, point tables and numpy.savetxt write it: one point per line,
// fields separated by blanks or by commas, '#' starting a comment, an optional first line
// of column names. NaN, nan or an empty field (between commas) is a missing value.
namespace tessimport {

struct TableColumns
{
    // A column name (any case) or a 1-based column number; empty = the default choice:
    // the columns named x, y, u, v, else the first four; the scalar is the first column
    // left over, or none.
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
bool readTable(const QByteArray &text, const TableColumns &choice, Grid &g, QString &error);

// The --list report of a table.
QString describeTable(const TableInfo &info);

} // namespace tessimport
