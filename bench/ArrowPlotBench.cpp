// Arrow plot on the channel sample (314 x 538 grid, pressure in channel 0): the pressure
// background alone at the default view and at the deepest zoom, and whole renderings of the
// widget after pan steps with the background on (what a drag costs per mouse move).

#include "arrowplot/ui/ArrowPlot.h"
#include "arrowplot/ArrowRender.h"
#include "tools/Flows.h"
#include "data/ui/Volumes.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool loadChannel()
{
    static bool loaded = false;
    if (loaded)
        return true;
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("channel.gri"));
    if (!dir.isValid() || !flows::write(QStringLiteral("channel"), path))
        return false;
    setCurrentDataset(loadDataset(path).dataset);
    loaded = gridVolume && gridVolume->pointCount() > 0;
    return loaded;
}

// The background of one view: x1, y1 and its size in cells, on the 314 x 538 widget.
void backgroundOfView(benchmark::State &state, int x1, int y1, int vw, int vh)
{
    if (!loadChannel()) {
        state.SkipWithError("channel sample not available");
        return;
    }
    Volume view(vw, vh, 1);
    arrowrender::copyViewCells(gridVolume, x1, y1, view);
    const float cw = 314.0f / static_cast<float>(vw);
    const float ch = 538.0f / static_cast<float>(vh);
    QImage image;
    for (auto _ : state) {
        arrowrender::computePressureBackground(image, 314, 538, view, cw, ch, nullptr);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_PressureBackgroundZoom1(benchmark::State &state) { backgroundOfView(state, 0, 0, 314, 538); }
void BM_PressureBackgroundZoom15(benchmark::State &state) { backgroundOfView(state, 140, 252, 34, 34); }

void BM_ViewCopyZoom1(benchmark::State &state)
{
    if (!loadChannel()) {
        state.SkipWithError("channel sample not available");
        return;
    }
    Volume view(314, 538, 1);
    for (auto _ : state) {
        arrowrender::copyViewCells(gridVolume, 3, -2, view);
        benchmark::DoNotOptimize(view.store().dir());
    }
}

void BM_ArrowLatticeZoom1(benchmark::State &state)
{
    if (!loadChannel()) {
        state.SkipWithError("channel sample not available");
        return;
    }
    Volume view(314, 538, 1);
    arrowrender::copyViewCells(gridVolume, 0, 0, view);
    arrowrender::ArrowScale scale;
    scale.pixelsPerUnitX = 314.0f / (11.6701f - 0.3299f);
    scale.pixelsPerUnitY = 538.0f / (18.77217f - 0.3299f);
    QImage image(314, 538, QImage::Format_RGB32);
    for (auto _ : state) {
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        QPen pen(Qt::white, 1);
        pen.setCosmetic(true);
        painter.setPen(pen);
        arrowrender::drawArrowLattice(painter, view, scale);
    }
}

// A left drag over the visible widget, one pixel per step to and fro: each step moves the
// view, drops the cached background and renders everything again.
void panSteps(benchmark::State &state, int zoomClicks)
{
    if (!loadChannel()) {
        state.SkipWithError("channel sample not available");
        return;
    }
    ArrowPlot plot;
    plot.show();
    QCoreApplication::processEvents();
    for (int k = 0; k < zoomClicks; ++k) {
        QMouseEvent click(QEvent::MouseButtonPress, QPointF(50, 50), QPointF(50, 50), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&plot, &click);
    }
    plot.setShowPressure(true);
    plot.drawArrowPlot();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(100, 100), QPointF(100, 100), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&plot, &press);
    int step = 0;
    for (auto _ : state) {
        const QPointF at((step++ & 1) ? 100 : 101, 100);
        QMouseEvent move(QEvent::MouseMove, at, at, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&plot, &move);
    }
    if (!plot.colorsValid())
        state.SkipWithError("the background was not computed");
}

void BM_DrawArrowPlotPanStepZoom1(benchmark::State &state) { panSteps(state, 0); }
void BM_DrawArrowPlotPanStepZoom15(benchmark::State &state) { panSteps(state, 14); }

} // namespace

BENCHMARK(BM_PressureBackgroundZoom1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PressureBackgroundZoom15)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewCopyZoom1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrowLatticeZoom1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawArrowPlotPanStepZoom1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawArrowPlotPanStepZoom15)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
