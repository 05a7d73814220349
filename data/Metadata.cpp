#include "Metadata.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace metadata {

namespace {

const char kFormat[] = "tessaly dataset metadata";
constexpr int kMaxPoints = 1 << 30;

QString unitsSuffix(const QString &units)
{
    return units.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(units);
}

QJsonObject quantityJson(const Quantity &q)
{
    QJsonObject o{{QStringLiteral("name"), q.name}};
    if (!q.longName.isEmpty())
        o.insert(QStringLiteral("long_name"), q.longName);
    if (!q.units.isEmpty())
        o.insert(QStringLiteral("units"), q.units);
    return o;
}

// Reading: every check failure sets the reason once and makes the whole file ignored.
class Reader
{
public:
    QString error;

    bool fail(const QString &why)
    {
        if (error.isEmpty())
            error = why;
        return false;
    }

    QJsonObject object(const QJsonObject &parent, const char *key, const QString &path)
    {
        const QJsonValue v = parent.value(QLatin1String(key));
        if (v.isUndefined())
            return QJsonObject();
        if (!v.isObject())
            fail(QStringLiteral("%1 is not an object").arg(path));
        return v.toObject();
    }

    QString text(const QJsonObject &o, const char *key, const QString &path)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return QString();
        if (!v.isString())
            fail(QStringLiteral("%1.%2 is not a text").arg(path, QLatin1String(key)));
        return v.toString();
    }

    // A finite number; `fallback` when absent.
    double number(const QJsonObject &o, const char *key, const QString &path, double fallback)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return fallback;
        if (!v.isDouble() || !std::isfinite(v.toDouble()))
            fail(QStringLiteral("%1.%2 is not a finite number").arg(path, QLatin1String(key)));
        return v.toDouble();
    }

    // A whole number lo ... hi; `fallback` when absent.
    qint64 whole(const QJsonObject &o, const char *key, const QString &path, qint64 lo, qint64 hi, qint64 fallback)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return fallback;
        const double d = v.toDouble(NAN);
        if (!v.isDouble() || !(d >= double(lo) && d <= double(hi)) || d != std::floor(d)) {
            fail(QStringLiteral("%1.%2 is not a whole number from %3 to %4").arg(path, QLatin1String(key)).arg(lo).arg(hi));
            return fallback;
        }
        return static_cast<qint64>(d);
    }

    // Two finite numbers [a, b].
    bool pair(const QJsonValue &v, const QString &path, double *a, double *b)
    {
        const QJsonArray array = v.toArray();
        if (!v.isArray() || array.size() != 2 || !array[0].isDouble() || !array[1].isDouble() || !std::isfinite(array[0].toDouble())
            || !std::isfinite(array[1].toDouble()))
            return fail(QStringLiteral("%1 is not a pair of finite numbers").arg(path));
        *a = array[0].toDouble();
        *b = array[1].toDouble();
        return true;
    }

    Quantity quantity(const QJsonObject &parent, const char *key, const QString &path)
    {
        const QJsonObject o = object(parent, key, path);
        Quantity q;
        q.name = text(o, "name", path);
        q.longName = text(o, "long_name", path);
        q.units = text(o, "units", path);
        return q;
    }
};

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

QString Quantity::label() const
{
    const QString what = longName.trimmed().isEmpty() ? name.trimmed() : longName.trimmed();
    return what.isEmpty() ? QString() : what + unitsSuffix(units.trimmed());
}

double Mapping::scale() const
{
    return degenerate() ? 0.0 : (high - low) / (storedHigh - storedLow);
}

double Mapping::offset() const
{
    return degenerate() ? low : low - scale() * storedLow;
}

double Mapping::real(double stored) const
{
    if (degenerate())
        return std::isfinite(stored) ? low : NAN;
    // From the low end, so that storedLow gives `low` exactly.
    return low + (stored - storedLow) / (storedHigh - storedLow) * (high - low);
}

double Mapping::stored(double real) const
{
    if (degenerate())
        return 0.5 * (storedLow + storedHigh);
    return storedLow + (real - low) / (high - low) * (storedHigh - storedLow);
}

double Metadata::realValue(int channel, double stored) const
{
    if (channel == 0)
        return mapping.real(stored);
    return channel == 1 ? stored : NAN;
}

QString Metadata::units(int channel) const
{
    return knows(channel) ? scalar.units : QString();
}

QString Metadata::label(int channel) const
{
    return knows(channel) ? scalar.label() : QString();
}

QString Metadata::speedLabel() const
{
    return QStringLiteral("speed") + unitsSuffix(u.units.trimmed());
}

QString fileName(const QString &gridFile)
{
    const QFileInfo info(gridFile);
    const QString name = info.fileName();
    if (!name.endsWith(QLatin1String(".gri")))
        return QString();
    // The folder part as given, so that messages name the file the way the user named the pair.
    return gridFile.left(gridFile.size() - 4) + QStringLiteral(".meta.json");
}

QByteArray toJson(const Metadata &m)
{
    QJsonObject source{{QStringLiteral("file"), m.source}};
    if (!m.format.isEmpty())
        source.insert(QStringLiteral("format"), m.format);
    QJsonObject scalar = quantityJson(m.scalar);
    scalar.insert(QStringLiteral("speed"), m.scalarIsSpeed);
    scalar.insert(QStringLiteral("channel"), 1);
    QJsonArray slices;
    for (const Slice &s : m.slices) {
        QJsonObject o{{QStringLiteral("dimension"), s.dimension},
                      {QStringLiteral("option"), s.time ? QStringLiteral("--time") : QStringLiteral("--level")},
                      {QStringLiteral("index"), s.index},
                      {QStringLiteral("length"), double(s.length)}};
        if (std::isfinite(s.value))
            o.insert(QStringLiteral("value"), s.value);
        if (!s.units.isEmpty())
            o.insert(QStringLiteral("units"), s.units);
        slices.append(o);
    }
    const Mapping &p = m.mapping;
    const QJsonObject mapping{{QStringLiteral("channel"), 0},
                              {QStringLiteral("stored"), QJsonArray{p.storedLow, p.storedHigh}},
                              {QStringLiteral("real"), QJsonArray{p.low, p.high}},
                              {QStringLiteral("from"), p.fromData ? QStringLiteral("data range") : QStringLiteral("--scalar-range")},
                              {QStringLiteral("offset"), p.offset()},
                              {QStringLiteral("scale"), p.scale()}};
    const QJsonObject root{{QStringLiteral("format"), QLatin1String(kFormat)},
                           {QStringLiteral("version"), kVersion},
                           {QStringLiteral("source"), source},
                           {QStringLiteral("points"), QJsonArray{m.nx, m.ny}},
                           {QStringLiteral("positions"), QJsonObject{{QStringLiteral("x"), quantityJson(m.x)},
                                                                     {QStringLiteral("y"), quantityJson(m.y)}}},
                           {QStringLiteral("flow"), QJsonObject{{QStringLiteral("u"), quantityJson(m.u)},
                                                                {QStringLiteral("v"), quantityJson(m.v)},
                                                                {QStringLiteral("scale"), m.flowScale}}},
                           {QStringLiteral("scalar"), scalar},
                           {QStringLiteral("slices"), slices},
                           {QStringLiteral("mapping"), mapping}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// The slices, each a dimension and the index taken along it; failures in `r`.
void readSlices(Reader &r, const QJsonObject &root, Metadata &m)
{
    const QJsonValue slices = root.value(QLatin1String("slices"));
    if (!slices.isUndefined() && !slices.isArray())
        r.fail(QStringLiteral("slices is not a list"));
    for (const QJsonValue &v : slices.toArray()) {
        const QString path = QStringLiteral("slices[%1]").arg(m.slices.size());
        if (!v.isObject()) {
            r.fail(QStringLiteral("%1 is not an object").arg(path));
            break;
        }
        const QJsonObject o = v.toObject();
        Slice s;
        s.dimension = r.text(o, "dimension", path);
        s.time = r.text(o, "option", path) == QLatin1String("--time");
        s.index = static_cast<int>(r.whole(o, "index", path, 0, INT_MAX, 0));
        s.length = r.whole(o, "length", path, 0, qint64(1) << 53, 0);
        s.value = r.number(o, "value", path, NAN);
        s.units = r.text(o, "units", path);
        m.slices.append(s);
    }
}

// The scalar's mapping from real values onto the stored ones; false (the reason in `r`) when
// it is missing or does not make a mapping.
bool readMapping(Reader &r, const QJsonObject &root, Mapping &p)
{
    const QJsonValue mappingValue = root.value(QLatin1String("mapping"));
    if (!mappingValue.isObject())
        return r.fail(QStringLiteral("no mapping object"));
    const QJsonObject mapping = mappingValue.toObject();
    if (!r.pair(mapping.value(QLatin1String("real")), QStringLiteral("mapping.real"), &p.low, &p.high))
        return false;
    if (!(p.low <= p.high))
        return r.fail(QStringLiteral("mapping.real runs from %1 down to %2").arg(p.low).arg(p.high));
    if (mapping.contains(QLatin1String("stored"))) {
        if (!r.pair(mapping.value(QLatin1String("stored")), QStringLiteral("mapping.stored"), &p.storedLow, &p.storedHigh))
            return false;
        if (!(p.storedLow < p.storedHigh))
            return r.fail(QStringLiteral("mapping.stored does not rise"));
    }
    // A difference of finite ends can still overflow (-1e308 ... 1e308).
    if (!std::isfinite(p.high - p.low) || !std::isfinite(p.storedHigh - p.storedLow))
        return r.fail(QStringLiteral("the mapping's ranges are beyond double precision"));
    p.fromData = r.text(mapping, "from", QStringLiteral("mapping")) != QLatin1String("--scalar-range");
    return true;
}

} // namespace

bool fromJson(const QByteArray &json, Metadata &out, QString *error)
{
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    Reader r;
    const auto done = [&](bool ok) {
        if (!ok && error)
            *error = r.error;
        return ok;
    };
    if (parse.error != QJsonParseError::NoError)
        return done(r.fail(QStringLiteral("not JSON (%1 at byte %2)").arg(parse.errorString()).arg(parse.offset)));
    if (!doc.isObject())
        return done(r.fail(QStringLiteral("not a JSON object")));
    const QJsonObject root = doc.object();
    if (root.value(QLatin1String("format")).toString() != QLatin1String(kFormat))
        return done(r.fail(QStringLiteral("no \"format\": \"%1\"").arg(QLatin1String(kFormat))));
    const QJsonValue version = root.value(QLatin1String("version"));
    if (!version.isDouble() || version.toDouble() != kVersion)
        return done(r.fail(QStringLiteral("version %1, this program reads version %2")
                               .arg(version.isDouble() ? QString::number(version.toDouble()) : QStringLiteral("missing"))
                               .arg(kVersion)));
    Metadata m;
    const QJsonObject source = r.object(root, "source", QStringLiteral("source"));
    m.source = r.text(source, "file", QStringLiteral("source"));
    m.format = r.text(source, "format", QStringLiteral("source"));
    const QJsonArray points = root.value(QLatin1String("points")).toArray();
    const auto count = [](const QJsonValue &v) {
        const double d = v.toDouble(NAN);
        return v.isDouble() && d >= 1 && d <= kMaxPoints && d == std::floor(d) ? static_cast<int>(d) : 0;
    };
    if (points.size() != 2 || count(points[0]) == 0 || count(points[1]) == 0)
        return done(r.fail(QStringLiteral("points is not a pair of whole numbers from 1 to %1").arg(kMaxPoints)));
    m.nx = count(points[0]);
    m.ny = count(points[1]);
    const QJsonObject positions = r.object(root, "positions", QStringLiteral("positions"));
    m.x = r.quantity(positions, "x", QStringLiteral("positions.x"));
    m.y = r.quantity(positions, "y", QStringLiteral("positions.y"));
    const QJsonObject flow = r.object(root, "flow", QStringLiteral("flow"));
    m.u = r.quantity(flow, "u", QStringLiteral("flow.u"));
    m.v = r.quantity(flow, "v", QStringLiteral("flow.v"));
    m.flowScale = r.number(flow, "scale", QStringLiteral("flow"), 1.0);
    if (r.error.isEmpty() && !(m.flowScale > 0.0))
        r.fail(QStringLiteral("flow.scale is not above 0"));
    m.scalar = r.quantity(root, "scalar", QStringLiteral("scalar"));
    const QJsonValue speed = root.value(QLatin1String("scalar")).toObject().value(QLatin1String("speed"));
    if (!speed.isUndefined() && !speed.isBool())
        r.fail(QStringLiteral("scalar.speed is not true or false"));
    m.scalarIsSpeed = speed.toBool();
    readSlices(r, root, m);
    if (!readMapping(r, root, m.mapping))
        return done(false);
    if (!r.error.isEmpty())
        return done(false);
    out = m;
    return true;
}

Loaded load(const QString &gridFile, int nx, int ny)
{
    Loaded result;
    const QString name = fileName(gridFile);
    if (name.isEmpty())
        return result;
    const auto ignored = [&](const QString &why) {
        result.status = Status::Ignored;
        result.warning = QStringLiteral("%1 is ignored: %2").arg(name, why);
        return result;
    };
    // Non-blocking: a named pipe in its place must not stop the reader.
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? result : ignored(QStringLiteral("cannot read it: %1").arg(reason(errno)));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ignored(QStringLiteral("not a regular file"));
    }
    if (st.st_size > kMaxBytes) {
        ::close(fd);
        return ignored(QStringLiteral("%1 bytes, more than the %2 a metadata file may hold").arg(st.st_size).arg(kMaxBytes));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return ignored(QStringLiteral("cannot read it: %1").arg(file.errorString()));
    }
    // One byte beyond the limit tells a file that grew since fstat.
    const QByteArray bytes = file.read(kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return ignored(QStringLiteral("cannot read it: %1").arg(file.errorString()));
    if (bytes.size() > kMaxBytes)
        return ignored(QStringLiteral("more than the %1 bytes a metadata file may hold").arg(kMaxBytes));
    QString why;
    if (!fromJson(bytes, result.meta, &why))
        return ignored(why);
    if (nx > 0 && ny > 0 && (result.meta.nx != nx || result.meta.ny != ny))
        return ignored(QStringLiteral("it describes %1 x %2 points, the dataset has %3 x %4")
                           .arg(result.meta.nx)
                           .arg(result.meta.ny)
                           .arg(nx)
                           .arg(ny));
    result.status = Status::Loaded;
    return result;
}

} // namespace metadata
