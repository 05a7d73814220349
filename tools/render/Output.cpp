#include "tools/render/Output.h"

#include "tools/render/FastPng.h"
#include "tools/render/OutputPlan.h"
#include "streamlines/SeparationGrid.h"
#include "data/Volume.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>

#include <charconv>
#include <optional>

namespace output {

namespace {

// Shortest text that reads back as the same double.
void appendNumber(QByteArray &out, double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

void appendNumber(QByteArray &out, qsizetype v)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(v));
    out.append(buf, r.ptr - buf);
}

// Text is formatted in blocks of about a megabyte, not as one string of the whole file.
struct Chunked
{
    QIODevice &device;
    QByteArray buffer;
    bool ok = true;
    void flushIfFull()
    {
        if (buffer.size() > (1 << 20))
            flush();
    }
    bool flush()
    {
        ok = ok && device.write(buffer) == buffer.size();
        buffer.clear();
        return ok;
    }
};

} // namespace

// Runs `write` on a temporary file for `path`: staged in the current transaction, which puts
// it in place with the dataset's other outputs, or renamed into place at once without one.
bool writeFile(const QString &path, const std::function<bool(QIODevice &, QString *)> &write, QString *error)
{
    std::optional<outputplan::Transaction> own;
    outputplan::Transaction *transaction = outputplan::Transaction::current();
    if (!transaction)
        transaction = &own.emplace();
    QIODevice *file = transaction->stage(path, error);
    if (!file)
        return false;
    QString why;
    if (!write(*file, &why)) {
        transaction->fail(file, why, error);
        return false;
    }
    if (!transaction->finish(file, error))
        return false;
    return !own || own->commit(error);
}

bool writeGridLog(const QString &path, const SeparationGrid *grid, QString *error)
{
    return writeFile(
        path, [&](QIODevice &d, QString *) { return !grid || grid->writeLog(d); }, error);
}

bool writePng(const QString &path, const QImage &image, QString *error, int level)
{
    // One thread: a second deflating half the rows saves wall time only on pictures far
    // larger than a view's and costs its start-up on every one.
    if (level != kPngAuto || qint64(image.width()) * image.height() >= kFastPngPixels)
        return writeFile(
            path, [&](QIODevice &d, QString *why) { return fastpng::write(d, image, 1, why, level == kPngAuto ? 1 : level); },
            error);
    return writeFile(
        path,
        [&](QIODevice &d, QString *why) {
            // Encoded in memory first: libpng prints its own "Write Error" on stderr when the
            // file fails it, beside the tool's line (the file's reason is reported instead).
            QByteArray encoded;
            QBuffer buffer(&encoded);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "png");
            writer.setQuality(75); // as "Save Image" writes it
            if (!writer.write(image)) {
                *why = writer.errorString();
                return false;
            }
            return d.write(encoded) == encoded.size();
        },
        error);
}

bool writeSvg(const QString &path, QSize size, const QString &title, const std::function<void(QPainter &)> &paint,
              QString *error)
{
    return writeFile(
        path,
        [&](QIODevice &d, QString *why) {
            QSvgGenerator generator;
            generator.setOutputDevice(&d);
            generator.setSize(size);
            generator.setViewBox(QRect(QPoint(0, 0), size));
            generator.setTitle(title);
            generator.setDescription(QStringLiteral("Written by tessaly-render"));
            QPainter painter;
            if (!painter.begin(&generator)) {
                *why = QStringLiteral("cannot start the SVG painter");
                return false;
            }
            paint(painter);
            return painter.end();
        },
        error);
}

bool writeCsv(const QString &path, const QVector<Streamline> &lines, const Volume &loaded, QString *error)
{
    return writeFile(
        path,
        [&](QIODevice &d, QString *) {
            Chunked out{d, {}};
            out.buffer += "line,point,index_x,index_y,world_x,world_y\n";
            for (qsizetype l = 0; l < lines.size() && out.ok; ++l) {
                const Streamline &line = lines[l];
                for (qsizetype i = 0; i < line.size(); ++i) {
                    const Vector3 world = loaded.getWorldPos(line[i].x, line[i].y);
                    appendNumber(out.buffer, l);
                    out.buffer += ',';
                    appendNumber(out.buffer, i);
                    for (double v : {line[i].x, line[i].y, world.x, world.y}) {
                        out.buffer += ',';
                        appendNumber(out.buffer, v);
                    }
                    out.buffer += '\n';
                }
                out.flushIfFull();
            }
            return out.flush();
        },
        error);
}

bool writeVtk(const QString &path, const QVector<Streamline> &lines, const Volume &loaded, const QString &title,
              QString *error)
{
    qsizetype points = 0;
    for (const Streamline &line : lines)
        points += line.size();
    return writeFile(
        path,
        [&](QIODevice &d, QString *) {
            Chunked out{d, {}};
            // The title line is at most 256 characters and a single line.
            QByteArray head = title.toUtf8().left(250);
            head.replace('\n', ' ');
            out.buffer += "# vtk DataFile Version 3.0\n" + head + "\nASCII\nDATASET POLYDATA\nPOINTS ";
            appendNumber(out.buffer, points);
            out.buffer += " double\n";
            // One row per point: "x y" plus `tail`, from the point as `place` maps it.
            auto appendRows = [&](auto place, const char *tail) {
                for (const Streamline &line : lines) {
                    for (const Vector3 &p : line) {
                        const Vector3 q = place(p);
                        appendNumber(out.buffer, q.x);
                        out.buffer += ' ';
                        appendNumber(out.buffer, q.y);
                        out.buffer += tail;
                    }
                    out.flushIfFull();
                }
            };
            appendRows([&](const Vector3 &p) { return loaded.getWorldPos(p.x, p.y); }, " 0\n");
            out.buffer += "LINES ";
            appendNumber(out.buffer, lines.size());
            out.buffer += ' ';
            appendNumber(out.buffer, points + lines.size());
            out.buffer += '\n';
            qsizetype next = 0;
            for (const Streamline &line : lines) {
                appendNumber(out.buffer, line.size());
                for (qsizetype i = 0; i < line.size(); ++i) {
                    out.buffer += ' ';
                    appendNumber(out.buffer, next++);
                }
                out.buffer += '\n';
                out.flushIfFull();
            }
            out.buffer += "POINT_DATA ";
            appendNumber(out.buffer, points);
            out.buffer += "\nFIELD FieldData 2\nindex 2 ";
            appendNumber(out.buffer, points);
            out.buffer += " double\n";
            appendRows([](const Vector3 &p) { return p; }, "\n");
            out.buffer += "line 1 ";
            appendNumber(out.buffer, points);
            out.buffer += " int\n";
            for (qsizetype l = 0; l < lines.size(); ++l) {
                for (qsizetype i = 0; i < lines[l].size(); ++i) {
                    appendNumber(out.buffer, l);
                    out.buffer += '\n';
                }
                out.flushIfFull();
            }
            return out.flush();
        },
        error);
}

} // namespace output
