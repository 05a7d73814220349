#include "data/DatasetFiles.h"

#include "Metadata.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace dataset {

namespace {

// One %d conversion as scanf does it: leading white space, an optional sign, digits.
bool scanInt(const char *&p, int &out)
{
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    const char *q = p;
    bool negative = false;
    if (*q == '+' || *q == '-')
        negative = *q++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*q)))
        return false;
    long long v = 0;
    while (std::isdigit(static_cast<unsigned char>(*q))) {
        if (v < 1LL << 40)
            v = v * 10 + (*q - '0');
        ++q;
    }
    v = negative ? -v : v;
    out = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
    p = q;
    return true;
}

bool scanFloat(const char *&p, float &out)
{
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    char *end = nullptr;
    const float v = std::strtof(p, &end);
    if (end == p)
        return false;
    out = v;
    p = end;
    return true;
}

} // namespace

Header parseHeader(const char *bytes, int size)
{
    Header h;
    char text[kHeaderBytes + 1] = {};
    std::memcpy(text, bytes, static_cast<std::size_t>(std::clamp(size, 0, kHeaderBytes)));
    const char *p = text;
    if (std::strncmp(p, "SN4DB", 5) != 0)
        return h;
    h.magic = true;
    p += 5;
    int *ints[] = {&h.dimX, &h.dimY, &h.dimZ, &h.channels, &h.timesteps};
    for (int *field : ints) {
        if (!scanInt(p, *field))
            return h;
        ++h.fieldsRead;
    }
    if (scanFloat(p, h.time))
        ++h.fieldsRead;
    return h;
}

QString dataFileName(const QString &gridFileName)
{
    const qsizetype slash = gridFileName.lastIndexOf(QLatin1Char('/'));
    const QString folder = gridFileName.left(slash + 1);
    QString name = gridFileName.mid(slash + 1);
    if (!name.contains(QLatin1String(".gri")))
        return QString();
    name.replace(QLatin1String(".gri"), QLatin1String(".00000.dat"));
    return folder + name;
}

bool expectedSizes(const Header &h, std::uint64_t &gridBytes, std::uint64_t &dataBytes, std::uint64_t &points)
{
    if (h.dimX < 0 || h.dimY < 0 || h.dimZ < 0 || h.channels < 0)
        return false;
    std::uint64_t n = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(h.dimX), static_cast<std::uint64_t>(h.dimY), &n)
        || __builtin_mul_overflow(n, static_cast<std::uint64_t>(h.dimZ), &n))
        return false;
    const std::uint64_t record = 12 + 4 * static_cast<std::uint64_t>(h.channels);
    if (__builtin_mul_overflow(n, std::uint64_t(12), &gridBytes) || __builtin_add_overflow(gridBytes, std::uint64_t(kHeaderBytes), &gridBytes)
        || __builtin_mul_overflow(n, record, &dataBytes))
        return false;
    points = n;
    return true;
}

bool write(const QString &gridFileName, int dimX, int dimY, int dimZ, int channels, const PointFiller &fill,
           int timesteps, float time)
{
    char header[kHeaderBytes + 64];
    const int len = std::snprintf(header, sizeof header, "SN4DB %d %d %d %d %d %g", dimX, dimY, dimZ, channels,
                                  timesteps, static_cast<double>(time));
    const QString dataName = dataFileName(gridFileName);
    if (len < 0 || len > kHeaderBytes || dataName.isEmpty() || dimX < 0 || dimY < 0 || dimZ < 0 || channels < 0) {
        qDebug().noquote() << "Cannot write dataset" << gridFileName << ": bad name or counts";
        return false;
    }
    std::memset(header + len, ' ', static_cast<std::size_t>(kHeaderBytes - len));

    // Both files are written under temporary names and renamed at the end, so a failed or
    // interrupted write never leaves a partial file or a half-new pair behind.
    QSaveFile grid(gridFileName);
    QSaveFile data(dataName);
    grid.setDirectWriteFallback(false);
    data.setDirectWriteFallback(false);
    if (!grid.open(QIODevice::WriteOnly) || !data.open(QIODevice::WriteOnly)) {
        qDebug().noquote() << "Cannot write dataset" << gridFileName;
        return false;
    }
    bool ok = grid.write(header, kHeaderBytes) == kHeaderBytes;

    const std::size_t rowPoints = static_cast<std::size_t>(dimX);
    std::vector<float> gridRow(rowPoints * 3);
    std::vector<float> dataRow(rowPoints * (3 + static_cast<std::size_t>(channels)));
    for (int z = 0; z < dimZ && ok; ++z) {
        for (int y = 0; y < dimY && ok; ++y) {
            for (int x = 0; x < dimX; ++x) {
                float *pos = &gridRow[static_cast<std::size_t>(x) * 3];
                float *rec = &dataRow[static_cast<std::size_t>(x) * (3 + static_cast<std::size_t>(channels))];
                std::fill(pos, pos + 3, 0.0f);
                std::fill(rec, rec + 3 + channels, 0.0f);
                fill(x, y, z, pos, rec, rec + 3);
            }
            for (float &f : gridRow)
                f = qToLittleEndian(f);
            for (float &f : dataRow)
                f = qToLittleEndian(f);
            const qint64 gb = static_cast<qint64>(gridRow.size() * sizeof(float));
            const qint64 db = static_cast<qint64>(dataRow.size() * sizeof(float));
            ok = grid.write(reinterpret_cast<const char *>(gridRow.data()), gb) == gb
                 && data.write(reinterpret_cast<const char *>(dataRow.data()), db) == db;
        }
    }
    // The data file goes first: a grid file is what a user opens, and it only appears
    // once its data file is complete. Should its own rename fail, the new data file goes too.
    if (!ok) {
        grid.cancelWriting();
        data.cancelWriting();
    } else if (!data.commit()) {
        grid.cancelWriting();
        ok = false;
    } else if (!grid.commit()) {
        QFile::remove(dataName);
        ok = false;
    }
    if (!ok)
        qDebug().noquote() << "Writing dataset" << gridFileName << "failed";
    else if (const QString meta = metadata::fileName(gridFileName); !meta.isEmpty())
        QFile::remove(meta); // it described the pair this one replaced
    return ok;
}

} // namespace dataset
