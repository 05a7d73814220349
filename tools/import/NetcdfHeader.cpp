#include "tools/import/NetcdfHeader.h"

#include "tools/import/NetcdfFile.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace tessimport::netcdf {

namespace {

// Walks the header of a classic-format file (CDF-1, CDF-2, CDF-5) and checks that every
// name, count and attribute it declares fits in the file. The library allocates what a
// header declares before it compares with the file, so a damaged header of a few bytes
// could otherwise ask for gigabytes. An empty result: sound, or the header reaches beyond
// the `have` bytes at hand (nothing can be judged there).
class HeaderWalk
{
public:
    HeaderWalk(const unsigned char *bytes, std::size_t have, std::uint64_t fileSize)
        : mB(bytes), mHave(have), mSize(fileSize), mLong(have > 3 && bytes[3] == 5), mOffset(have > 3 && bytes[3] == 1 ? 4 : 8)
    {
    }

    QString problem()
    {
        mPos = 4;
        mRecords = count();
        list(10, "dimension");
        list(12, "attribute");
        list(11, "variable");
        return mStop == Stop::Bad ? mWhy : QString();
    }

    // Each variable's end in the file; empty unless the whole header was walked.
    std::vector<Extent> extents() const
    {
        if (mStop != Stop::No)
            return {};
        static const std::uint64_t sizes[] = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
        const auto isRecord = [&](const WalkVar &v) { return !v.dims.empty() && mDimLengths[v.dims[0]] == 0; };
        const auto bytes = [&](const WalkVar &v) { // one record's worth for a record variable
            std::uint64_t n = sizes[v.type];
            for (std::size_t d = isRecord(v) ? 1 : 0; d < v.dims.size(); ++d)
                if (__builtin_mul_overflow(n, mDimLengths[v.dims[d]], &n))
                    return UINT64_MAX;
            return n;
        };
        std::uint64_t recordVars = 0, recordSize = 0;
        for (const WalkVar &v : mVars)
            if (isRecord(v)) {
                ++recordVars;
                const std::uint64_t b = bytes(v);
                recordSize = b > UINT64_MAX - recordSize - 3 ? UINT64_MAX : recordSize + (b + 3) / 4 * 4;
            }
        // A single record variable's records follow each other unpadded.
        for (const WalkVar &v : mVars)
            if (isRecord(v) && recordVars == 1)
                recordSize = bytes(v);
        // The all-ones count marks a file still being streamed: its records cannot be judged.
        const bool streaming = mRecords == (mLong ? UINT64_MAX : 0xFFFFFFFFu);
        std::vector<Extent> out;
        for (const WalkVar &v : mVars) {
            const std::uint64_t b = bytes(v);
            if (b == 0 || (isRecord(v) && (mRecords == 0 || streaming)))
                continue;
            std::uint64_t end = v.begin, skipped = 0;
            if (isRecord(v) && (__builtin_mul_overflow(mRecords - 1, recordSize, &skipped) || __builtin_add_overflow(end, skipped, &end)))
                end = UINT64_MAX;
            if (__builtin_add_overflow(end, b, &end))
                end = UINT64_MAX;
            out.push_back({v.name, end});
        }
        return out;
    }

private:
    enum class Stop { No, End, Bad };

    bool stopped() const { return mStop != Stop::No; }
    void bad(const QString &why)
    {
        if (!stopped()) {
            mStop = Stop::Bad;
            mWhy = why;
        }
    }
    bool need(std::uint64_t n)
    {
        if (stopped())
            return false;
        if (n > mSize || mPos > mSize - n) {
            bad(QStringLiteral("damaged NetCDF header: it declares more than the file's %1 bytes").arg(mSize));
            return false;
        }
        if (mPos + n > mHave) {
            mStop = Stop::End;
            return false;
        }
        return true;
    }
    std::uint64_t number(int bytes)
    {
        if (!need(static_cast<std::uint64_t>(bytes)))
            return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | mB[mPos + static_cast<std::uint64_t>(i)];
        mPos += static_cast<std::uint64_t>(bytes);
        return v;
    }
    std::uint64_t count() { return number(mLong ? 8 : 4); }
    // CDF-5 adds the unsigned and 64-bit types (7 ... 11) to byte ... double (1 ... 6).
    std::uint64_t maxType() const { return mLong ? 11 : 6; }
    void skip(std::uint64_t n)
    {
        const std::uint64_t padded = n + (4 - n % 4) % 4;
        if (padded >= n && need(padded))
            mPos += padded;
        else if (padded < n)
            bad(QStringLiteral("damaged NetCDF header"));
    }
    // Each element of a list takes at least `least` bytes of the rest of the file.
    bool fits(std::uint64_t n, std::uint64_t least)
    {
        if (!stopped() && n > (mSize - std::min(mPos, mSize)) / least)
            bad(QStringLiteral("damaged NetCDF header: %1 entries cannot fit in the file").arg(n));
        return !stopped();
    }
    // Names are limited to NC_MAX_NAME bytes; the library copies longer ones into buffers
    // of that size regardless.
    QString name()
    {
        const std::uint64_t n = count();
        if (!stopped() && n > NC_MAX_NAME) {
            bad(QStringLiteral("damaged NetCDF header: a name of %1 bytes").arg(n));
            return QString();
        }
        const std::uint64_t at = mPos;
        skip(n);
        if (stopped())
            return QString();
        char text[NC_MAX_NAME + 1] = {};
        std::memcpy(text, mB + at, static_cast<std::size_t>(n));
        return ncText(text);
    }
    void attributes()
    {
        const std::uint64_t tag = number(4), n = count();
        if (stopped() || (tag == 0 && n == 0))
            return;
        if (tag != 12)
            return bad(QStringLiteral("damaged NetCDF header: attribute list expected"));
        for (std::uint64_t i = 0; fits(n - i, 12) && i < n; ++i) {
            name();
            const std::uint64_t type = number(4), values = count();
            static const int sizes[] = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
            if (!stopped() && (type < 1 || type > maxType()))
                return bad(QStringLiteral("damaged NetCDF header: attribute type %1").arg(type));
            if (!stopped() && values > mSize)
                return bad(QStringLiteral("damaged NetCDF header: it declares more than the file's %1 bytes").arg(mSize));
            skip(values * static_cast<std::uint64_t>(sizes[stopped() ? 0 : type]));
        }
    }
    void list(std::uint64_t expected, const char *what)
    {
        if (expected == 12)
            return attributes();
        const std::uint64_t tag = number(4), n = count();
        if (stopped() || (tag == 0 && n == 0))
            return;
        if (tag != expected)
            return bad(QStringLiteral("damaged NetCDF header: %1 list expected").arg(QLatin1String(what)));
        if (expected == 10 && fits(n, 8))
            mDimLengths.reserve(static_cast<std::size_t>(n));
        for (std::uint64_t i = 0; fits(n - i, 8) && i < n; ++i) {
            WalkVar var;
            var.name = name();
            if (expected == 10) {
                mDimLengths.push_back(count());
                if (!stopped() && mDimLengths.back() == 0 && ++mRecordDims > 1)
                    return bad(QStringLiteral("damaged NetCDF header: more than one record dimension"));
                continue;
            }
            const std::uint64_t dims = count();
            fits(dims, mLong ? 8 : 4);
            // The record dimension (length 0) may only come first: elsewhere the library
            // divides by a zero size while it checks the variable.
            for (std::uint64_t d = 0; !stopped() && d < dims; ++d) {
                const std::uint64_t id = count();
                var.dims.push_back(static_cast<std::size_t>(id));
                if (!stopped() && id >= mDimLengths.size())
                    return bad(QStringLiteral("damaged NetCDF header: a variable names dimension %1 of %2").arg(id).arg(mDimLengths.size()));
                if (!stopped() && d > 0 && mDimLengths[static_cast<std::size_t>(id)] == 0)
                    return bad(QStringLiteral("damaged NetCDF header: the record dimension is not a variable's first"));
            }
            attributes();
            const std::uint64_t type = number(4);
            // Types the format does not know have no size, and the library divides by it.
            if (!stopped() && (type < 1 || type > maxType()))
                return bad(QStringLiteral("damaged NetCDF header: variable type %1").arg(type));
            count();             // size, which the extents compute from the dimensions
            var.type = static_cast<int>(type);
            var.begin = number(mOffset);
            if (!stopped())
                mVars.push_back(var);
        }
    }

    const unsigned char *mB;
    std::size_t mHave;
    std::uint64_t mSize;
    bool mLong;
    int mOffset;
    std::uint64_t mPos = 0;
    struct WalkVar
    {
        QString name;
        std::vector<std::size_t> dims;
        int type = 0;
        std::uint64_t begin = 0;
    };
    std::vector<std::uint64_t> mDimLengths;
    std::vector<WalkVar> mVars;
    std::uint64_t mRecords = 0;
    int mRecordDims = 0;
    Stop mStop = Stop::No;
    QString mWhy;
};

} // namespace

QString headerProblem(const QByteArray &head, std::uint64_t fileSize, std::vector<Extent> &extents)
{
    extents.clear();
    if (!head.startsWith("CDF"))
        return QString();
    HeaderWalk walk(reinterpret_cast<const unsigned char *>(head.constData()), static_cast<std::size_t>(head.size()), fileSize);
    const QString problem = walk.problem();
    extents = walk.extents();
    return problem;
}

bool checkHeader(const QString &path, std::uint64_t &size, std::vector<Extent> &extents, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    size = static_cast<std::uint64_t>(file.size());
    constexpr qint64 kHeaderLimit = 16 * 1024 * 1024;
    error = headerProblem(file.read(std::min<qint64>(file.size(), kHeaderLimit)), size, extents);
    return error.isEmpty();
}

} // namespace tessimport::netcdf
