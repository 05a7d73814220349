#pragma once

#include "data/DatasetFiles.h"
#include "data/Progress.h"
#include "data/ui/Volumes.h"

#include <QImage>
#include <QPoint>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <initializer_list>

class QAbstractButton;
class QWidget;

namespace testsupport {

// Collects every console line (qDebug and friends) while it lives; captures may nest.
class ConsoleCapture
{
public:
    ConsoleCapture();
    ~ConsoleCapture();
    QStringList lines() const;
    void clear();
    bool contains(const QString &text) const { return !lines().filter(text).isEmpty(); } // in any line
};

// Records the label, range and values of every progress dialog while it lives.
class ProgressRecorder : public Progress::Observer
{
public:
    struct Run
    {
        QString label;
        int minimum = 0, maximum = 0;
        QList<int> values;
        bool closed = false;
    };
    QList<Run> runs;

    ProgressRecorder() { Progress::setObserver(this); }
    ~ProgressRecorder() override { Progress::setObserver(nullptr); }
    void opened(const QString &label, int minimum, int maximum) override { runs.append({label, minimum, maximum, {}, false}); }
    void valueSet(int value) override
    {
        if (!runs.isEmpty())
            runs.last().values.append(value);
    }
    void closed() override
    {
        if (!runs.isEmpty())
            runs.last().closed = true;
    }
};

// Replaces the process-wide volumes (deleting the old ones unless the current dataset owns
// them, which it then releases); either may be null.
void setVolumes(const Volume *loaded, const Volume *grid);

// A regular grid volume of dimX x dimY x 1 whose flow is given by fn(x, y) and whose
// points carry two values (first = pressure(x, y)), as the resampling writes them.
Volume *makeGrid(int dimX, int dimY, const std::function<Vector3(int, int)> &flow,
                 const std::function<float(int, int)> &pressure = {});

// The same grid with the constant flow (vx, vy, 0) everywhere and zero pressure.
inline Volume *uniformFlow(int dimX, int dimY, double vx, double vy)
{
    return makeGrid(dimX, dimY, [=](int, int) { return Vector3(vx, vy, 0); });
}

// Writes a dataset into dir and returns the grid file path.
inline QString writeDataset(const QTemporaryDir &dir, const QString &name, int dimX, int dimY, int dimZ,
                            int channels, const dataset::PointFiller &fill)
{
    dataset::write(dir.filePath(name), dimX, dimY, dimZ, channels, fill);
    return dir.filePath(name);
}

// Loads a grid file the way the control dock does (loadDataset; a refused file's empty
// volumes become the current ones).
void loadLikeTheDock(const QString &gridFile);

// Little-endian float bytes, as the dataset files hold them.
QByteArray floats(std::initializer_list<float> values);
// Writes bytes to a file (a failed write fails the running test).
void writeFile(const QString &path, const QByteArray &bytes);
// A file's bytes, or "<missing>" when it cannot be read.
QByteArray readFile(const QString &path);
// The seeding's grid.log in the working directory, or "<missing>".
inline QByteArray readGridLog() { return readFile(QStringLiteral("grid.log")); }
// The first button under `parent` showing `text`, or null; clickButton clicks it.
QAbstractButton *findButton(QWidget *parent, const QString &text);
void clickButton(QWidget *parent, const QString &text);
// `times` right clicks at `at`; a left drag from `from` through `to` (release at the last).
void rightClick(QWidget *w, int times = 1, QPoint at = QPoint(20, 20));
void drag(QWidget *w, QPoint from, const QList<QPoint> &to);
// The bounds of the pixels whose colour is not `background` (alpha ignored); null when none.
QRect litBounds(const QImage &image, QRgb background = 0xff000000);

// Pixels that differ between two pictures, compared as opaque RGB (-1: the sizes differ).
int differing(const QImage &a, const QImage &b);

// A command-line tool run to its end (status -1 when it did not end normally within two
// minutes), without QT_QPA_PLATFORM: it must do without a display on its own.
struct ToolRun { int status = -1; QString out, err; };
ToolRun runTool(const QString &program, const QStringList &args, const QString &workingDir = QString());

} // namespace testsupport
