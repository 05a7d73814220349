#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QtEndian>
#include <QtTest>

#include <utility>

namespace testsupport {

namespace {
QStringList gLines;
int gCaptures = 0;
QtMessageHandler gPrevious = nullptr;
} // namespace

ConsoleCapture::ConsoleCapture()
{
    if (gCaptures++ == 0)
        gPrevious = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &msg) { gLines << msg; });
    clear();
}

ConsoleCapture::~ConsoleCapture()
{
    if (--gCaptures == 0)
        qInstallMessageHandler(gPrevious);
}

QStringList ConsoleCapture::lines() const { return gLines; }
void ConsoleCapture::clear() { gLines.clear(); }

void setVolumes(const Volume *loaded, const Volume *grid)
{
    // Volumes of a dataset belong to it: it is kept while one of them is still set. Any
    // other volumes belong to these tests.
    static std::shared_ptr<const Dataset> held;
    const auto belongs = [](const std::shared_ptr<const Dataset> &d, const Volume *v) {
        return d && v && (v == &d->loaded() || v == &d->grid());
    };
    const std::shared_ptr<const Dataset> d = currentDataset() ? currentDataset() : held;
    const Volume *oldLoaded = loadedVolume, *oldGrid = gridVolume;
    setCurrentDataset(nullptr);
    held = belongs(d, loaded) || belongs(d, grid) ? d : nullptr;
    loadedVolume = loaded;
    gridVolume = grid;
    if (oldLoaded != loaded && !belongs(d, oldLoaded))
        delete oldLoaded;
    if (oldGrid != grid && !belongs(d, oldGrid))
        delete oldGrid;
}

Volume *makeGrid(int dimX, int dimY, const std::function<Vector3(int, int)> &flow,
                 const std::function<float(int, int)> &pressure)
{
    auto *v = new Volume(dimX, dimY, 1);
    for (int y = 0; y < dimY; ++y)
        for (int x = 0; x < dimX; ++x) {
            DataPoint p(2);
            p.mDir = flow(x, y);
            p.mValues[0] = pressure ? pressure(x, y) : 0.0f;
            v->setAt(x, y, 0, p);
        }
    return v;
}

void loadLikeTheDock(const QString &gridFile)
{
    setVolumes(nullptr, nullptr);
    setCurrentDataset(loadDataset(gridFile).state);
}

QByteArray floats(std::initializer_list<float> values)
{
    QByteArray out(int(4 * values.size()), '\0');
    qToLittleEndian<float>(values.begin(), qsizetype(values.size()), out.data());
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

int differing(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    int n = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i)
            n += x.pixel(i, j) != y.pixel(i, j);
    return n;
}

QRect litBounds(const QImage &image, QRgb background)
{
    QRect lit;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) ^ background) & 0xffffff)
                lit |= QRect(x, y, 1, 1);
    return lit;
}

ToolRun runTool(const QString &program, const QStringList &args, const QString &workingDir)
{
    QProcess p;
    p.setWorkingDirectory(workingDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool done = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
    return {done ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace testsupport
