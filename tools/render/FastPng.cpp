#include "tools/render/FastPng.h"

#include <QIODevice>

#include <zlib.h>

#include <algorithm>
#include <new>
#include <thread>
#include <vector>

namespace fastpng {

namespace {

void put32(std::vector<unsigned char> &out, quint32 v)
{
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<unsigned char>(v >> s));
}

// One chunk: length, type, data, CRC of type and data.
bool chunk(QIODevice &device, const char type[4], const unsigned char *data, std::size_t size)
{
    std::vector<unsigned char> head;
    put32(head, static_cast<quint32>(size));
    head.insert(head.end(), type, type + 4);
    uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(type), 4);
    if (size > 0)
        crc = crc32(crc, data, static_cast<uInt>(size));
    std::vector<unsigned char> tail;
    put32(tail, static_cast<quint32>(crc));
    return device.write(reinterpret_cast<const char *>(head.data()), qint64(head.size())) == qint64(head.size())
           && (size == 0 || device.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size))
           && device.write(reinterpret_cast<const char *>(tail.data()), 4) == 4;
}

// Rows first ... last - 1 as raw deflate data; the last part ends the stream, the others end
// on a byte boundary with a sync flush so that the parts concatenate.
struct Part
{
    int first = 0, last = 0;
    bool final = false;
    std::vector<unsigned char> out;
    uLong adler = 1;
    uLong rawBytes = 0;
    bool ok = false;
};

// One row as PNG filter type and bytes in `row`: RGB or RGBA, unpremultiplied. From level
// 1 on, the row is sent unfiltered or with filter "Sub" (each byte less the same byte of the
// pixel to its left), whichever holds more bytes equal to the one before, which is what the
// run-length coder feeds on: lines on black or white are byte runs as they are, while opaque
// black in RGBA (0, 0, 0, 255) and smooth colour ramps become runs only after Sub. `sub` is
// scratch of the row's size, `size` bytes each. Returns true when `sub` holds the row to send.
bool filteredRow(const QRgb *src, int w, bool alpha, bool premultiplied, int level, unsigned char *row,
                 unsigned char *sub, std::size_t size)
{
    const std::size_t bpp = alpha ? 4 : 3;
    unsigned char *d = row + 1;
    for (int x = 0; x < w; ++x) {
        // PNG stores unpremultiplied colour; opaque pixels are the same either way.
        const QRgb c = premultiplied ? qUnpremultiply(src[x]) : src[x];
        *d++ = static_cast<unsigned char>(qRed(c));
        *d++ = static_cast<unsigned char>(qGreen(c));
        *d++ = static_cast<unsigned char>(qBlue(c));
        if (alpha)
            *d++ = static_cast<unsigned char>(qAlpha(c));
    }
    row[0] = 0;
    if (level == 0)
        return false;
    sub[0] = 1;
    std::size_t rawRuns = 0, subRuns = 0;
    for (std::size_t i = 1; i < size; ++i) {
        sub[i] = static_cast<unsigned char>(i > bpp ? row[i] - row[i - bpp] : row[i]);
        rawRuns += i > 1 && row[i] == row[i - 1];
        subRuns += i > 1 && sub[i] == sub[i - 1];
    }
    return subRuns > rawRuns;
}

void deflatePart(const QImage &image, bool alpha, int level, Part &p)
{
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, level == 1 ? Z_RLE : Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    const int w = image.width();
    const std::size_t bpp = alpha ? 4 : 3;
    std::vector<unsigned char> row(static_cast<std::size_t>(w) * bpp + 1), sub(row.size());
    const uLong rowBytes = static_cast<uLong>(row.size());
    // The output grows with what deflate gives (a picture of runs packs to a small part of
    // its rows), rather than being reserved at the worst case, the size of the rows.
    const std::size_t rowBound = deflateBound(&z, rowBytes) + 64;
    const auto room = [&] {
        const std::size_t used = p.out.empty() ? 0 : static_cast<std::size_t>(z.next_out - p.out.data());
        if (z.avail_out < rowBound) {
            p.out.resize(std::max(p.out.size() * 2, used + rowBound));
            z.next_out = p.out.data() + used;
            z.avail_out = static_cast<uInt>(std::min<std::size_t>(p.out.size() - used, 1u << 30));
        }
    };
    // Runs deflate until it has taken all input and, at the end, closed the stream.
    const auto pump = [&](int flush) {
        for (;;) {
            room();
            const int r = deflate(&z, flush);
            if (r == Z_STREAM_ERROR)
                return false;
            if (z.avail_in == 0 && z.avail_out > 0 && (flush != Z_FINISH || r == Z_STREAM_END))
                return true;
        }
    };
    const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
    bool ok = true;
    try {
        for (int y = p.first; y < p.last && ok; ++y) {
            if (filteredRow(reinterpret_cast<const QRgb *>(image.constScanLine(y)), w, alpha, premultiplied, level,
                            row.data(), sub.data(), row.size()))
                row.swap(sub);
            p.adler = adler32(p.adler, row.data(), static_cast<uInt>(rowBytes));
            p.rawBytes += rowBytes;
            z.next_in = row.data();
            z.avail_in = static_cast<uInt>(rowBytes);
            const bool lastRow = y + 1 == p.last;
            ok = pump(lastRow ? (p.final ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH);
        }
        if (p.first == p.last) {
            // An empty part still has to end (or continue) the stream.
            z.next_in = nullptr;
            z.avail_in = 0;
            ok = pump(p.final ? Z_FINISH : Z_SYNC_FLUSH);
        }
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    p.out.resize(p.out.empty() ? 0 : static_cast<std::size_t>(z.next_out - p.out.data()));
    deflateEnd(&z);
    p.ok = ok;
}

} // namespace

bool write(QIODevice &device, const QImage &source, int threads, QString *why, int level)
{
    level = std::clamp(level, 0, 9);
    const bool alpha = source.hasAlphaChannel();
    const QImage::Format format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    // Premultiplied rows are converted as they are read, without a copy of the picture.
    const bool direct = source.format() == format || source.format() == QImage::Format_ARGB32_Premultiplied;
    const QImage image = direct ? source : source.convertToFormat(format);
    if (image.isNull()) {
        *why = QStringLiteral("no memory for the PNG's rows");
        return false;
    }
    const int h = image.height();
    const int n = std::clamp(threads, 1, std::max(1, h));
    std::vector<Part> parts(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        parts[static_cast<std::size_t>(i)].first = static_cast<int>(static_cast<long long>(h) * i / n);
        parts[static_cast<std::size_t>(i)].last = static_cast<int>(static_cast<long long>(h) * (i + 1) / n);
        parts[static_cast<std::size_t>(i)].final = i + 1 == n;
    }
    std::vector<std::thread> workers;
    for (int i = 1; i < n; ++i)
        workers.emplace_back([&, i] { deflatePart(image, alpha, level, parts[static_cast<std::size_t>(i)]); });
    deflatePart(image, alpha, level, parts[0]);
    for (std::thread &t : workers)
        t.join();
    uLong adler = 1;
    for (const Part &p : parts) {
        if (!p.ok) {
            *why = QStringLiteral("the PNG could not be compressed");
            return false;
        }
        adler = adler32_combine(adler, p.adler, static_cast<z_off_t>(p.rawBytes));
    }

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> ihdr;
    put32(ihdr, static_cast<quint32>(image.width()));
    put32(ihdr, static_cast<quint32>(h));
    // 8 bits, RGB or RGBA, deflate, filter method 0, no interlace.
    ihdr.insert(ihdr.end(), {8, static_cast<unsigned char>(alpha ? 6 : 2), 0, 0, 0});
    const unsigned char zlibHead[2] = {0x78, 0x01};
    std::vector<unsigned char> zlibTail;
    put32(zlibTail, static_cast<quint32>(adler));
    bool ok = device.write(reinterpret_cast<const char *>(signature), 8) == 8
              && chunk(device, "IHDR", ihdr.data(), ihdr.size()) && chunk(device, "IDAT", zlibHead, 2);
    for (const Part &p : parts) {
        // IDAT chunks of at most 1 GiB each.
        for (std::size_t at = 0; ok && at < p.out.size(); at += std::size_t(1) << 30)
            ok = chunk(device, "IDAT", p.out.data() + at, std::min(p.out.size() - at, std::size_t(1) << 30));
    }
    ok = ok && chunk(device, "IDAT", zlibTail.data(), 4) && chunk(device, "IEND", nullptr, 0);
    if (!ok)
        *why = device.errorString();
    return ok;
}

} // namespace fastpng
