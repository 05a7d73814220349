#include "tools/render/ViewOutput.h"

#include "data/Metadata.h"
#include "data/Volume.h"
#include "tools/render/Console.h"
#include "tools/render/OutputPlan.h"
#include "volinfo/VolumeReport.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace rendertool {

using console::say;

namespace {

QJsonArray jsonVector(const Vector3 &v)
{
    return QJsonArray{v.x, v.y, v.z};
}

QJsonObject probeJson(const QString &dataset, const volumereport::Report &r, const metadata::Metadata *meta)
{
    QJsonArray values;
    for (float v : r.point.mValues)
        values.append(static_cast<double>(v));
    QJsonObject object{{QStringLiteral("dataset"), dataset},
                       {QStringLiteral("position"), QJsonArray{double(r.x), double(r.y)}},
                       {QStringLiteral("mPos"), jsonVector(r.point.mPos)},
                       {QStringLiteral("mDir"), jsonVector(r.point.mDir)},
                       {QStringLiteral("values"), values},
                       {QStringLiteral("outPutPos"), jsonVector(r.outPutPos)}};
    if (meta) {
        // Beside each stored value, its value in the quantity's units (null where the
        // metadata says nothing about the channel or there is no value).
        QJsonArray real, units;
        for (qsizetype c = 0; c < r.point.mValues.size(); ++c) {
            const double v = meta->realValue(static_cast<int>(c), double(r.point.mValues[c]));
            real.append(std::isfinite(v) ? QJsonValue(v) : QJsonValue());
            units.append(meta->knows(static_cast<int>(c)) ? QJsonValue(meta->units(static_cast<int>(c))) : QJsonValue());
        }
        object.insert(QStringLiteral("real"), real);
        object.insert(QStringLiteral("units"), units);
    }
    return object;
}

// Largest picture the tool draws: a 2-D raster far beyond any screen, yet bounded in memory.
constexpr qint64 kMaxPixels = qint64(1) << 28;
constexpr int kMaxSide = 32767;

bool pictureFits(QSize size, QString *why)
{
    if (size.width() < 1 || size.height() < 1 || size.width() > kMaxSide || size.height() > kMaxSide
        || qint64(size.width()) * size.height() > kMaxPixels) {
        *why = QStringLiteral("a picture of %1 x %2 pixels is beyond the limit of %3 pixels a side and %4 in all")
                   .arg(size.width())
                   .arg(size.height())
                   .arg(kMaxSide)
                   .arg(kMaxPixels);
        return false;
    }
    return true;
}

// Writes the picture (PNG or SVG), with the optional colour bar and flip. `raster` gives the
// view's image, `vector` paints the same through a painter. North up mirrors the rows
// flipRows.first ... flipRows.second - 1 (those that show the grid), no others.
bool writePicture(const Options &o, const QString &out, QSize size, const std::function<QImage()> &raster,
                  const std::function<void(QPainter &)> &vector, const QString &title, QString *error,
                  QPair<int, int> flipRows)
{
    const bool flip = o.northUp && flipRows.first < flipRows.second;
    const QSize canvas = o.colorBar ? pipeline::colorBarCanvas(size) : size;
    if (!pictureFits(canvas, error))
        return false;
    if (o.format == QLatin1String("svg")) {
        return output::writeSvg(
            out, canvas, title,
            [&](QPainter &painter) {
                if (o.colorBar)
                    painter.fillRect(QRect(QPoint(0, 0), canvas), Qt::white);
                painter.save();
                if (flip) {
                    painter.translate(0, flipRows.first + flipRows.second);
                    painter.scale(1, -1);
                }
                vector(painter);
                painter.restore();
                if (o.colorBar)
                    pipeline::paintColorBar(painter, QPoint(size.width() + pipeline::kColorBarGap, 0));
            },
            error);
    }
    QImage image = raster();
    if (image.isNull()) {
        *error = QStringLiteral("no memory for a %1 x %2 picture").arg(size.width()).arg(size.height());
        return false;
    }
    image = pipeline::composePicture(std::move(image), o.northUp, flipRows.first, flipRows.second, o.colorBar);
    if (image.isNull()) {
        *error = QStringLiteral("no memory for the picture");
        return false;
    }
    return output::writePng(out, image, error, o.pngLevel);
}

// Figures are written by the fast encoder, level 1 unless --png-level says otherwise.
int figurePngLevel(const Options &o)
{
    return o.pngLevel == output::kPngAuto ? 1 : o.pngLevel;
}

QString titleOf(const Options &o, const ViewJob &j)
{
    return QStringLiteral("%1 (%2)").arg(QFileInfo(j.dataset).fileName(), viewName(o.view));
}

figure::Settings figureSettings(const Options &o, const ViewJob &j)
{
    figure::Settings s = o.figure;
    s.meta = j.meta;
    return s;
}

int arrowFigure(const Options &o, const ViewJob &j, outputplan::Transaction &outputs)
{
    QString error;
    figure::Figure f;
    const int status = figure::arrowFigure(figureSettings(o, j), j.grid, o.arrows, f, &error);
    if (status == 0
        && (!figure::write(j.out, o.format, f, titleOf(o, j), &error, figurePngLevel(o)) || !outputs.commit(&error))) {
        say(error);
        return 1;
    }
    if (status != 0)
        say(QStringLiteral("%1: %2").arg(j.dataset, error));
    return status;
}

int renderArrows(const Options &o, const ViewJob &j)
{
    QString error;
    outputplan::Transaction outputs;
    const QSize size = pipeline::arrowPictureSize(j.grid, o.arrows);
    if (!pictureFits(size, &error)) {
        say(QStringLiteral("%1: %2").arg(j.dataset, error));
        return 1;
    }
    const int maxZoom = pipeline::maxArrowZoom(size);
    if (o.arrows.zoom > maxZoom) {
        say(QStringLiteral("%1: --zoom %2 leaves no cells of a %3 x %4 picture (largest zoom %5)")
                .arg(j.dataset)
                .arg(o.arrows.zoom)
                .arg(size.width())
                .arg(size.height())
                .arg(maxZoom));
        return 2;
    }
    if (o.figureMode)
        return arrowFigure(o, j, outputs);
    const arrowrender::PictureSettings picture = pipeline::arrowPicture(j.grid, o.arrows);
    QPair<int, int> rows;
    figure::arrowDataRows(j.grid, picture, 1, &rows.first, &rows.second);
    if (!writePicture(o, j.out, size, [&] { return arrowrender::renderPicture(&j.grid, picture); },
                      [&](QPainter &p) { arrowrender::paintPicture(p, &j.grid, picture); }, titleOf(o, j), &error, rows)
        || !outputs.commit(&error)) {
        say(error);
        return 1;
    }
    return 0;
}

// The streamlines as CSV, VTK, or the view's picture (PNG, SVG).
bool writeLines(const Options &o, const ViewJob &j, const pipeline::StreamRun &run, DroppedRepeats *dropped,
                QString *error)
{
    if (o.format == QLatin1String("csv"))
        return output::writeCsv(j.out, pipeline::dataLines(run, j.grid, dropped), j.loaded, error);
    if (o.format == QLatin1String("vtk"))
        return output::writeVtk(j.out, pipeline::dataLines(run, j.grid, dropped), j.loaded, titleOf(o, j), error);
    const bool antialias = o.lines.antialias;
    return writePicture(
        o, j.out, run.size,
        [&] {
            QImage image = blankStreamlineImage(run.size);
            paintPolylines(image, run.polylines, antialias);
            return image;
        },
        [&](QPainter &painter) {
            painter.fillRect(QRect(QPoint(0, 0), run.size), Qt::black);
            // Aliased lines fill the pixels whose corner the points name; as vectors they
            // run through those pixels' centres.
            if (!antialias)
                painter.translate(0.5, 0.5);
            paintStreamlines(painter, pipeline::vectorPolylines(run, j.grid, dropped), antialias);
        },
        titleOf(o, j), error, {0, run.size.height()});
}

int renderStreamlines(const Options &o, const ViewJob &j)
{
    QString error;
    outputplan::Transaction outputs;
    const QSize size(j.grid.getDimX(), j.grid.getDimY());
    if (o.format != QLatin1String("csv") && o.format != QLatin1String("vtk") && !pictureFits(size, &error)) {
        say(QStringLiteral("%1: %2").arg(j.dataset, error));
        return 1;
    }
    const pipeline::StreamRun run = pipeline::seedStreamlines(j.grid, o.lines);
    DroppedRepeats dropped;
    bool ok = true;
    if (o.figureMode) {
        figure::Figure f;
        const int status = figure::streamlineFigure(figureSettings(o, j), run, j.grid, f, &error);
        if (status != 0) {
            say(QStringLiteral("%1: %2").arg(j.dataset, error));
            return status;
        }
        ok = figure::write(j.out, o.format, f, titleOf(o, j), &error, figurePngLevel(o));
    } else {
        ok = writeLines(o, j, run, &dropped, &error);
    }
    if (ok && console::verbose() && o.format != QLatin1String("png"))
        say(QStringLiteral("%1: left out %2 repeated points and %3 lines of one point")
                .arg(j.dataset)
                .arg(dropped.points)
                .arg(dropped.lines));
    ok = ok && (j.gridLog.isEmpty() || output::writeGridLog(j.gridLog, run.separation.get(), &error)) && outputs.commit(&error);
    if (!ok) {
        say(error);
        return 1;
    }
    return 0;
}

} // namespace

void printProbe(const Options &o, const QString &dataset, const Volume &loaded, const metadata::Metadata *meta)
{
    const volumereport::Report r = volumereport::sample(loaded, o.probeX, o.probeY);
    QByteArray out;
    if (o.json) {
        out = QJsonDocument(probeJson(dataset, r, meta)).toJson(QJsonDocument::Compact) + '\n';
    } else {
        if (o.datasets.size() > 1)
            out = "# " + dataset.toLocal8Bit() + '\n';
        out += volumereport::text(r).toLocal8Bit() + '\n';
    }
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    std::fflush(stdout);
}

int renderView(const Options &o, const ViewJob &job)
{
    return o.view == View::Arrows ? renderArrows(o, job) : renderStreamlines(o, job);
}

} // namespace rendertool
