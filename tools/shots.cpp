// tessaly-shots: loads a dataset through the real control dock, opens every view, works a
// few of their controls and saves a picture of each window, for the README.
//
//   tessaly-shots DATASET.gri OUTDIR      (run under Xvfb, or with QT_QPA_PLATFORM=offscreen)

#include "app/ControlDock.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTest>
#include <QVBoxLayout>

#include <cstdio>

namespace {

QAbstractButton *buttonIn(QWidget *w, const QString &text)
{
    for (QAbstractButton *b : w->findChildren<QAbstractButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

bool save(QWidget *w, const QString &file)
{
    QApplication::processEvents();
    const bool ok = w && w->grab().save(file);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(file));
    return ok;
}

void click(QWidget *dialog, const QString &text)
{
    if (QAbstractButton *b = buttonIn(dialog, text))
        QTest::mouseClick(b, Qt::LeftButton);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tessaly-shots DATASET.gri OUTDIR\n");
        return 2;
    }
    const QString dataset = QString::fromLocal8Bit(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    QDir().mkpath(out.path());

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *dock = new ControlDock;
    layout->addWidget(dock);
    window.setWindowTitle(QStringLiteral(".:Korvu:. Beispiel 2"));
    window.show();
    dock->loadDataset(dataset);
    bool ok = save(&window, out.filePath("main.png"));

    dock->ArrowPlotClicked();
    QWidget *arrows = dock->findChild<QDialog *>(QString(), Qt::FindDirectChildrenOnly);
    click(arrows, QStringLiteral("Show Pressure"));
    ok = save(arrows, out.filePath("arrowplot.png")) && ok;
    arrows->hide();

    dock->StreamLinesClicked();
    QWidget *streams = nullptr;
    for (QDialog *d : dock->findChildren<QDialog *>(QString(), Qt::FindDirectChildrenOnly))
        if (d != arrows)
            streams = d;
    ok = save(streams, out.filePath("streamlines.png")) && ok;
    click(streams, QStringLiteral("Evenlyspaced Seedpoints"));
    click(streams, QStringLiteral("redraw"));
    ok = save(streams, out.filePath("streamlines-even.png")) && ok;
    streams->hide();

    dock->VolInfoClicked();
    QWidget *info = nullptr;
    for (QDialog *d : dock->findChildren<QDialog *>(QString(), Qt::FindDirectChildrenOnly))
        if (d != arrows && d != streams)
            info = d;
    ok = save(info, out.filePath("volinfo.png")) && ok;
    return ok ? 0 : 1;
}
