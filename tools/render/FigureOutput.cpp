// Figures as files: painted on a raster (in bands, on up to two threads) for PNG, on a PDF
// page, or written as SVG elements one item at a time.

#include "tools/render/FastPng.h"
#include "tools/render/Figure.h"
#include "tools/render/FigureLegend.h"
#include "tools/render/Output.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QThread>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <thread>
#include <vector>

namespace figure {

namespace {

void paintItem(QPainter &painter, const Item &item, bool raster, bool antialias)
{
    switch (item.kind) {
    case Item::Fill:
        painter.fillRect(item.rect, QColor(item.color));
        break;
    case Item::Image:
        if (raster && !item.raster.isNull()) {
            painter.drawImage(item.rect.topLeft(), item.raster);
        } else {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, item.smooth);
            painter.drawImage(item.rect, item.image);
        }
        break;
    case Item::Lines:
    case Item::Polyline: {
        painter.setRenderHint(QPainter::Antialiasing, antialias);
        // Square caps and bevel joins: round ones cost the stroker an arc at every point of a
        // large figure, and look the same at these widths.
        painter.setPen(QPen(QColor(item.color), item.width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        if (item.kind == Item::Polyline) {
            painter.drawPolyline(item.points.constData(), static_cast<int>(item.points.size()));
        } else {
            std::vector<QLineF> lines;
            lines.reserve(static_cast<std::size_t>(item.points.size() / 2));
            for (qsizetype i = 0; i + 1 < item.points.size(); i += 2)
                lines.emplace_back(item.points[i], item.points[i + 1]);
            painter.drawLines(lines.data(), static_cast<int>(lines.size()));
        }
        break;
    }
    case Item::Text: {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        const QFont font = detail::legendFont(item.fontPixels);
        painter.setFont(font);
        painter.setPen(QColor(item.color));
        painter.drawText(item.rect.topLeft(), item.text);
        break;
    }
    }
}

// The whole figure on a painter; raster: the images' output-resolution rasters and the flip
// done by the caller on the picture's pixels, else the flip as a transformation.
void paintFigure(QPainter &painter, const Figure &f, bool raster)
{
    if (f.canvas != f.picture)
        painter.fillRect(QRect(QPoint(0, 0), f.canvas), QColor(f.paper));
    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), f.picture));
    // Black where the flipped content leaves rows uncovered (the view beyond the grid).
    painter.fillRect(QRect(QPoint(0, 0), f.picture), Qt::black);
    if (!raster && f.flip) {
        painter.translate(0, f.flipRow0 + f.flipRow1);
        painter.scale(1, -1);
    }
    for (const Item &item : f.data)
        paintItem(painter, item, raster, f.antialias);
    painter.restore();
    for (const Item &item : f.legend)
        paintItem(painter, item, raster, true);
}

// ---- SVG

void number(QByteArray &out, double v)
{
    char buf[48];
    if (!std::isfinite(v))
        v = 0.0;
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    out.append(buf, r.ptr - buf);
}

QByteArray colorText(QRgb c)
{
    return QByteArray("#") + QByteArray::number(c & 0xffffff, 16).rightJustified(6, '0');
}

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray pngBase64(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toBase64();
}

// ` x="…" y="…" width="…" height="…"` of an SVG element, in output pixels.
void rectAttributes(QByteArray &out, const QRectF &r)
{
    out += " x=\"";
    number(out, r.x());
    out += "\" y=\"";
    number(out, r.y());
    out += "\" width=\"";
    number(out, r.width());
    out += "\" height=\"";
    number(out, r.height());
    out += "\"";
}

void svgItem(QByteArray &out, const Item &item, bool antialias)
{
    switch (item.kind) {
    case Item::Fill:
        out += "<rect";
        rectAttributes(out, item.rect);
        out += " fill=\"" + colorText(item.color) + "\"/>\n";
        break;
    case Item::Image:
        out += "<image";
        rectAttributes(out, item.rect);
        out += " preserveAspectRatio=\"none\"";
        if (!item.smooth)
            out += " image-rendering=\"optimizeSpeed\" style=\"image-rendering:pixelated\"";
        out += " xlink:href=\"data:image/png;base64," + pngBase64(item.image) + "\"/>\n";
        break;
    case Item::Lines:
    case Item::Polyline: {
        if (item.points.size() < 2)
            break;
        out += "<path fill=\"none\" stroke=\"" + colorText(item.color) + "\" stroke-width=\"";
        number(out, item.width);
        out += "\" stroke-linecap=\"square\" stroke-linejoin=\"bevel\"";
        if (!antialias)
            out += " shape-rendering=\"crispEdges\"";
        out += " d=\"";
        for (qsizetype i = 0; i < item.points.size(); ++i) {
            const bool move = i == 0 || (item.kind == Item::Lines && i % 2 == 0);
            out += move ? (i == 0 ? "M" : " M") : " L";
            number(out, item.points[i].x());
            out += ' ';
            number(out, item.points[i].y());
        }
        out += "\"/>\n";
        break;
    }
    case Item::Text: {
        const QFont font = detail::legendFont(item.fontPixels);
        out += "<text x=\"";
        number(out, item.rect.left());
        out += "\" y=\"";
        number(out, item.rect.top());
        out += "\" font-family=\"" + escaped(font.family()) + "\" font-size=\"";
        number(out, font.pixelSize());
        out += "\" fill=\"" + colorText(item.color) + "\">" + escaped(item.text) + "</text>\n";
        break;
    }
    }
}

bool writeSvgFigure(QIODevice &d, const Figure &f, const QString &title)
{
    QByteArray out;
    bool ok = true;
    const auto flush = [&](bool always) {
        if (always || out.size() > (1 << 20)) {
            ok = ok && d.write(out) == out.size();
            out.clear();
        }
    };
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"1.1\" "
           "width=\"" + QByteArray::number(f.canvas.width()) + "\" height=\"" + QByteArray::number(f.canvas.height())
           + "\" viewBox=\"0 0 " + QByteArray::number(f.canvas.width()) + ' ' + QByteArray::number(f.canvas.height())
           + "\">\n<title>" + escaped(title) + "</title>\n<desc>Written by tessaly-render</desc>\n";
    if (f.canvas != f.picture) {
        Item paper;
        paper.rect = QRectF(QPointF(0, 0), QSizeF(f.canvas));
        paper.color = f.paper;
        svgItem(out, paper, true);
    }
    out += "<defs><clipPath id=\"picture\"><rect x=\"0\" y=\"0\" width=\"" + QByteArray::number(f.picture.width())
           + "\" height=\"" + QByteArray::number(f.picture.height()) + "\"/></clipPath></defs>\n";
    out += "<g clip-path=\"url(#picture)\">\n";
    // Black where the flipped content leaves rows uncovered (the view beyond the grid).
    out += "<rect x=\"0\" y=\"0\" width=\"" + QByteArray::number(f.picture.width()) + "\" height=\""
           + QByteArray::number(f.picture.height()) + "\" fill=\"#000000\"/>\n";
    if (f.flip)
        out += "<g transform=\"matrix(1 0 0 -1 0 " + QByteArray::number(f.flipRow0 + f.flipRow1) + ")\">\n";
    for (const Item &item : f.data) {
        svgItem(out, item, f.antialias);
        flush(false);
    }
    if (f.flip)
        out += "</g>\n";
    out += "</g>\n";
    for (const Item &item : f.legend)
        svgItem(out, item, true);
    out += "</svg>\n";
    flush(true);
    return ok;
}

// Threads for a large figure's raster and PNG: the machine's, at most two, and one for a
// small figure, where starting threads costs more than it saves.
int threadsFor(QSize size)
{
    return qint64(size.width()) * size.height() >= (qint64(1) << 22) ? std::clamp(QThread::idealThreadCount(), 1, 2) : 1;
}

} // namespace

QImage rasterise(const Figure &f)
{
    QImage picture(f.picture, QImage::Format_RGB32);
    if (picture.isNull())
        return picture;
    // The views' pictures start with a fill of the whole picture; anything else on black.
    const bool covered = !f.data.isEmpty() && f.data.first().kind == Item::Fill
                         && f.data.first().rect.contains(QRectF(QPointF(0, 0), QSizeF(f.picture)));
    if (!covered)
        picture.fill(Qt::black);
    // Horizontal bands painted at once, each on its own painter over its rows of the picture
    // (the same pixels as one painter: whole-pixel translations only).
    const int bands = threadsFor(f.picture);
    const auto paintBand = [&](int band) {
        const int y0 = static_cast<int>(static_cast<long long>(f.picture.height()) * band / bands);
        const int y1 = static_cast<int>(static_cast<long long>(f.picture.height()) * (band + 1) / bands);
        if (y1 <= y0)
            return;
        QImage rows(picture.scanLine(y0), picture.width(), y1 - y0, picture.bytesPerLine(), picture.format());
        QPainter painter(&rows);
        painter.translate(0, -y0);
        for (const Item &item : f.data)
            paintItem(painter, item, true, f.antialias);
    };
    {
        std::vector<std::thread> workers;
        for (int band = 1; band < bands; ++band)
            workers.emplace_back(paintBand, band);
        paintBand(0);
        for (std::thread &t : workers)
            t.join();
    }
    if (f.flip) {
        // Mirror the rows flipRow0 ... flipRow1 - 1 in place.
        const qsizetype bpl = picture.bytesPerLine();
        std::vector<uchar> tmp(static_cast<std::size_t>(bpl));
        for (int a = f.flipRow0, b = f.flipRow1 - 1; a < b; ++a, --b) {
            std::copy_n(picture.scanLine(a), bpl, tmp.data());
            std::copy_n(picture.constScanLine(b), bpl, picture.scanLine(a));
            std::copy_n(tmp.data(), bpl, picture.scanLine(b));
        }
    }
    if (f.canvas == f.picture && f.legend.isEmpty())
        return picture;
    QImage canvas(f.canvas, QImage::Format_RGB32);
    if (canvas.isNull())
        return canvas;
    canvas.fill(QColor(f.paper));
    QPainter painter(&canvas);
    painter.drawImage(0, 0, picture);
    for (const Item &item : f.legend)
        paintItem(painter, item, true, true);
    return canvas;
}

bool write(const QString &path, const QString &format, const Figure &f, const QString &title, QString *error, int pngLevel)
{
    if (format == QLatin1String("svg"))
        return output::writeFile(path, [&](QIODevice &d, QString *) { return writeSvgFigure(d, f, title); }, error);
    if (format == QLatin1String("pdf")) {
        return output::writeFile(
            path,
            [&](QIODevice &d, QString *why) {
                QPdfWriter writer(&d);
                // One point per output pixel: the page is the figure's size in the PNG's units.
                writer.setResolution(72);
                writer.setPageSize(QPageSize(QSizeF(f.canvas), QPageSize::Point, QString(), QPageSize::ExactMatch));
                writer.setPageMargins(QMarginsF(0, 0, 0, 0));
                writer.setTitle(title);
                writer.setCreator(QStringLiteral("tessaly-render"));
                QPainter painter;
                if (!painter.begin(&writer)) {
                    *why = QStringLiteral("cannot start the PDF painter");
                    return false;
                }
                paintFigure(painter, f, false);
                return painter.end();
            },
            error);
    }
    const QImage image = rasterise(f);
    if (image.isNull()) {
        *error = QStringLiteral("no memory for a %1 x %2 figure").arg(f.canvas.width()).arg(f.canvas.height());
        return false;
    }
    return output::writeFile(
        path, [&](QIODevice &d, QString *why) { return fastpng::write(d, image, threadsFor(image.size()), why, pngLevel); }, error);
}

} // namespace figure
