#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QFile>
#include <QMutex>
#include <QtEndian>
#include <QtTest>

namespace testsupport {

namespace {
QMutex gMutex;
QStringList gLines;
int gCaptures = 0;
QtMessageHandler gPrevious = nullptr;

void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    {
        QMutexLocker lock(&gMutex);
        gLines << msg;
    }
    if (gPrevious && qEnvironmentVariableIsSet("TESSALY_TEST_ECHO"))
        gPrevious(type, ctx, msg);
}
} // namespace

ConsoleCapture::ConsoleCapture()
{
    if (gCaptures++ == 0)
        gPrevious = qInstallMessageHandler(handler);
    clear();
}

ConsoleCapture::~ConsoleCapture()
{
    if (--gCaptures == 0)
        qInstallMessageHandler(gPrevious);
}

QStringList ConsoleCapture::lines() const
{
    QMutexLocker lock(&gMutex);
    return gLines;
}

void ConsoleCapture::clear()
{
    QMutexLocker lock(&gMutex);
    gLines.clear();
}

bool ConsoleCapture::contains(const QString &text) const
{
    for (const QString &l : lines())
        if (l.contains(text))
            return true;
    return false;
}

ProgressRecorder::ProgressRecorder() { Progress::setObserver(this); }
ProgressRecorder::~ProgressRecorder() { Progress::setObserver(nullptr); }

void ProgressRecorder::opened(const QString &label, int minimum, int maximum)
{
    runs.append(Run{label, minimum, maximum, {}, false});
}

void ProgressRecorder::valueSet(int value)
{
    if (!runs.isEmpty())
        runs.last().values.append(value);
}

void ProgressRecorder::closed()
{
    if (!runs.isEmpty())
        runs.last().closed = true;
}

void setVolumes(Volume *loaded, Volume *grid)
{
    if (loadedVolume != loaded)
        delete loadedVolume;
    if (gridVolume != grid)
        delete gridVolume;
    loadedVolume = loaded;
    gridVolume = grid;
}

Volume *makeGrid(int dimX, int dimY, const std::function<Vector3(int, int)> &flow,
                 const std::function<float(int, int)> &pressure)
{
    auto *v = new Volume(dimX, dimY, 1);
    for (int y = 0; y < dimY; ++y) {
        for (int x = 0; x < dimX; ++x) {
            DataPoint p(2);
            p.mDir = flow(x, y);
            p.mValues[0] = pressure ? pressure(x, y) : 0.0f;
            v->setAt(x, y, 0, p);
        }
    }
    return v;
}

Volume *uniformFlow(int dimX, int dimY, double vx, double vy)
{
    return makeGrid(dimX, dimY, [=](int, int) { return Vector3(vx, vy, 0); });
}

QString writeDataset(const QTemporaryDir &dir, const QString &name, int dimX, int dimY, int dimZ, int channels,
                     const dataset::PointFiller &fill)
{
    const QString path = dir.filePath(name);
    dataset::write(path, dimX, dimY, dimZ, channels, fill);
    return path;
}

void loadLikeTheDock(const QString &gridFile)
{
    setVolumes(nullptr, nullptr);
    loadedVolume = new Volume();
    loadedVolume->load(gridFile);
    gridVolume = new Volume(loadedVolume->getDimX(), loadedVolume->getDimY(), 1);
    gridVolume->calculateGrid();
}

QByteArray floats(std::initializer_list<float> values)
{
    QByteArray out;
    for (float v : values) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray readGridLog()
{
    return readFile(QStringLiteral("grid.log"));
}

QAbstractButton *findButton(QWidget *parent, const QString &text)
{
    for (QAbstractButton *b : parent->findChildren<QAbstractButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

void clickButton(QWidget *parent, const QString &text)
{
    QAbstractButton *b = findButton(parent, text);
    QVERIFY2(b, qPrintable(text));
    QTest::mouseClick(b, Qt::LeftButton);
}

void rightClick(QWidget *w, int times, QPoint at)
{
    for (int i = 0; i < times; ++i)
        QTest::mouseClick(w, Qt::RightButton, Qt::NoModifier, at);
}

void drag(QWidget *w, QPoint from, const QList<QPoint> &to)
{
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, from);
    for (QPoint p : to) { // moves with the button held, as a real drag sends them
        QMouseEvent move(QEvent::MouseMove, QPointF(p), QPointF(w->mapToGlobal(p)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    }
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, to.last());
}

} // namespace testsupport
