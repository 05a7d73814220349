#include "streamlines/ui/streamlines.h"

#include "data/ui/Busy.h"
#include "data/ui/ProgressDialog.h"
#include "data/Progress.h"
#include "data/ui/Volumes.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>
#include <optional>

namespace {

const QSize kNoDataSize(314, 538);

} // namespace

streamlines::streamlines(QWidget *parent) : QWidget(parent)
{
    ProgressDialog::install(); // the computations this starts show their progress as dialogs
    // Only the grid's size is read here, which is valid even while a load fills the grid.
    QSize size = kNoDataSize;
    if (const Volume *grid = usableGrid(gridVolume)) {
        size = QSize(grid->getDimX(), grid->getDimY());
        if (size.width() > QWIDGETSIZE_MAX || size.height() > QWIDGETSIZE_MAX) {
            size = size.boundedTo(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
            qDebug().noquote() << QStringLiteral("The grid is larger than a window can be; the streamline view shows "
                                                 "%1 x %2 of its cells.")
                                      .arg(size.width())
                                      .arg(size.height());
        }
    }
    setMinimumSize(size);
    setMaximumSize(size);
    resetParameters();
}

streamlines::~streamlines() = default;

void streamlines::resetParameters()
{
    mDt = streamlineDefaults::kDt;
    mNav.reset(width(), height());
    mMaxLength = streamlineDefaults::kMaxLength;
    mAntialiased = false;
    mSeedsX = streamlineDefaults::kSeeds;
    mSeedsY = streamlineDefaults::kSeeds;
    mIntegrationMethod = Euler;
    mDSep = streamlineDefaults::kDSep;
    mDTest = streamlineDefaults::kDTest;
    computeSeedPoints(false);
    mEvenlySpaced = false;
    drawStreamLines();
}

void streamlines::computeSeedPoints(bool evenlySpaced)
{
    if (Busy::isBusy()) {
        // Only the latest request counts: ticking and unticking during a load ends unticked.
        Busy::whenIdle(this, Busy::Seeding, [this, evenlySpaced] { computeSeedPoints(evenlySpaced); });
        return;
    }
    computeSeedPointsNow(evenlySpaced);
}

EvenlySpacedSeeding::Parameters streamlines::seedingParameters() const
{
    EvenlySpacedSeeding::Parameters parameters;
    parameters.dSep = mDSep;
    parameters.dTest = mDTest;
    parameters.dt = mDt;
    parameters.method = mIntegrationMethod;
    parameters.viewWidth = width();
    parameters.viewHeight = height();
    return parameters;
}

void streamlines::computeSeedPointsNow(bool evenlySpaced)
{
    mEvenlySpaced = evenlySpaced;
    // Only an evenly spaced run reads the grid.
    std::optional<Busy::Scope> busy;
    if (evenlySpaced && usableGrid(gridVolume))
        busy.emplace();
    runSeeding(mSeeding, mSeedPoints, mEvenLines, evenlySpaced, viewRect(), mSeedsX, mSeedsY, seedingParameters(),
               gridVolume);
}

bool streamlines::isValidPoint(double x, double y, double z, float minDistance)
{
    mSeeding.use(usableGrid(gridVolume), seedingParameters());
    return mSeeding.isValidPoint(x, y, z, minDistance);
}

Streamline streamlines::traceStreamline(Vector3 seed)
{
    mSeeding.use(usableGrid(gridVolume), seedingParameters());
    return mSeeding.traceStreamline(seed);
}

Vector3 streamlines::findSeedPoint(Streamline line)
{
    mSeeding.use(usableGrid(gridVolume), seedingParameters());
    return mSeeding.findSeedPoint(std::move(line));
}

void streamlines::drawStreamLines()
{
    if (Busy::isBusy()) {
        // A load (or another rendering) is processing events: the grid may be half-filled.
        Busy::whenIdle(this, Busy::Render, [this] { drawStreamLines(); });
        return;
    }
    drawStreamLinesNow();
}

void streamlines::drawStreamLinesNow()
{
    Busy::Scope busy;
    QImage image = blankStreamlineImage(size());
    const Volume *grid = usableGrid(gridVolume);
    if (!grid) {
        paintNoData(image);
        mImage = image;
        update();
        return;
    }
    if (image.isNull()) {
        qDebug().noquote() << QStringLiteral("Cannot allocate a %1 x %2 streamline image; nothing is drawn.")
                                  .arg(width())
                                  .arg(height());
        mImage = image;
        return;
    }

    const ViewRect view = viewRect();
    Progress progress(QStringLiteral("Drawing Image..."), 0, static_cast<int>(mSeedPoints.size()));
    // The progress processes events, so slots may change the view's lists and parameters
    // meanwhile: the rendering works on copies (implicitly shared, nothing is copied unless
    // a slot changes them) and the changes show at the next rendering.
    QVector<QPolygon> polylines;
    if (mEvenlySpaced) {
        polylines = evenlySpacedPolylines(mEvenLines, view, *grid);
    } else {
        computeSeedPointsNow(false);
        mDt = std::fabs(mDt);
        const QVector<Vector3> seeds = mSeedPoints;
        const TraceSettings settings{mDt, mIntegrationMethod, mMaxLength};
        polylines = regularPolylines(seeds, view, settings, *grid, &progress);
    }
    paintPolylines(image, polylines, mAntialiased);
    progress.close();

    mPolylines = polylines;
    mImage = image;
    QCoreApplication::processEvents();
    repaint();
}

void streamlines::mousePressEvent(QMouseEvent *event)
{
    if (mNav.press(event->button(), event->position().toPoint(), width(), height())
        == ViewNavigator::Press::ZoomRefused)
        qDebug().noquote() << QStringLiteral("Zoom in refused: the view would be narrower or lower than %1 grid "
                                             "units.")
                                  .arg(mNav.rules().minExtent);
}

void streamlines::mouseMoveEvent(QMouseEvent *event)
{
    // Only the button's release renders the moved view.
    mNav.move(event->position().toPoint());
}

void streamlines::mouseReleaseEvent(QMouseEvent *)
{
    mNav.release();
    drawStreamLines();
}

void streamlines::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(rect(), QBrush(QColor(128, 0, 0, 255), Qt::SolidPattern));
    painter.drawImage(rect(), mImage);
}
