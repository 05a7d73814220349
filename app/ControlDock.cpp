#include "app/ControlDock.h"

#include "arrowplot/ui/ArrowPlotDialog.h"
#include "data/ui/Busy.h"
#include "data/ui/ProgressDialog.h"
#include "streamlines/ui/StreamLineDialog.h"
#include "volinfo/ui/VolInfo.h"
#include "data/ui/Volumes.h"

#include <QDebug>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

ControlDock::ControlDock(QWidget *parent) : QWidget(parent)
{
    ProgressDialog::install(); // the computations this starts show their progress as dialogs
    auto *grid = new QGridLayout;
    mLoadButton = new QPushButton(QStringLiteral("Load Dataset ..."));
    mArrowPlotButton = new QPushButton(QStringLiteral("Arrow Plot"));
    mStreamLinesButton = new QPushButton(QStringLiteral("Stream Lines"));
    mVolInfoButton = new QPushButton(QStringLiteral("Volume Information"));
    mLoadButton->setFixedSize(110, 25);
    mArrowPlotButton->setFixedSize(90, 25);
    mStreamLinesButton->setFixedSize(110, 25);

    auto *row = new QHBoxLayout;
    row->addWidget(mLoadButton);
    row->addWidget(mArrowPlotButton);
    row->addWidget(mStreamLinesButton);
    row->addWidget(mVolInfoButton);
    grid->addLayout(row, 0, 0, Qt::AlignLeft);
    setLayout(grid);

    mArrowPlotDialog = nullptr;
    mStreamLineDialog = nullptr;
    mVolInfo = nullptr;

    connect(mLoadButton, &QPushButton::clicked, this, &ControlDock::loadClicked);
    connect(mArrowPlotButton, &QPushButton::clicked, this, &ControlDock::ArrowPlotClicked);
    connect(mStreamLinesButton, &QPushButton::clicked, this, &ControlDock::StreamLinesClicked);
    connect(mVolInfoButton, &QPushButton::clicked, this, &ControlDock::VolInfoClicked);
    // While a load or a view computation runs (and processes events) no second one may start.
    connect(Busy::instance(), &Busy::busyChanged, this, &ControlDock::setBusy);
}

void ControlDock::setBusy(bool busy)
{
    for (QPushButton *b : {mLoadButton, mArrowPlotButton, mStreamLinesButton, mVolInfoButton})
        b->setEnabled(!busy);
}

QString ControlDock::askForDataset()
{
    return QFileDialog::getOpenFileName(this, QStringLiteral("Open Dat File"), QStringLiteral("."),
                                        QStringLiteral("Alle Dateien (*.gri)"));
}

int ControlDock::loadClicked()
{
    if (Busy::isBusy())
        return 0;
    const QString fileName = askForDataset();
    if (fileName.size() < 2)
        return 0;
    loadDataset(fileName);
    return 0;
}

void ControlDock::loadDataset(const QString &fileName)
{
    if (Busy::isBusy())
        return;
    Busy::Scope busy;

    qDebug().noquote() << "Loading:" << fileName;
    std::printf("vorher\n");
    std::fflush(stdout);
    // Nothing keeps a volume pointer across a busy period, so the replaced dataset can go now.
    setCurrentDataset(nullptr);
    std::printf("nachher\n");
    std::fflush(stdout);
    const DatasetResult result = ::loadDataset(fileName, [] { qDebug() << "Dataset Loaded."; });
    // A refused file still becomes the current (empty) dataset, with the extent the loader
    // reached: the views show it as they show any dataset of no points.
    setCurrentDataset(result.state);
    QString refusal;
    if (result.error.isError())
        refusal = result.error.printed ? result.error.message : QStringLiteral("The dataset holds no points.");
    showLoadResult(fileName, refusal);
}

QMessageBox *ControlDock::loadMessage() const
{
    return mLoadMessage.data();
}

void ControlDock::showLoadResult(const QString &fileName, const QString &refusal)
{
    // A message about an earlier file would now be wrong; a new one opens on top.
    if (mLoadMessage)
        mLoadMessage->close();
    if (refusal.isEmpty())
        return;
    mLoadMessage = new QMessageBox(QMessageBox::Warning, QStringLiteral("Load Dataset"),
                                   QStringLiteral("%1 was not loaded.").arg(fileName), QMessageBox::Ok, this);
    mLoadMessage->setInformativeText(refusal);
    // Not modal: the dock and the views stay usable while it is open.
    mLoadMessage->setWindowModality(Qt::NonModal);
    mLoadMessage->setAttribute(Qt::WA_DeleteOnClose);
    mLoadMessage->show();
}

int ControlDock::ArrowPlotClicked()
{
    if (!mArrowPlotDialog)
        mArrowPlotDialog = new ArrowPlotDialog(this);
    mArrowPlotDialog->setVisible(true);
    mArrowPlotDialog->refreshPlot();
    return 0;
}

int ControlDock::StreamLinesClicked()
{
    if (!mStreamLineDialog)
        mStreamLineDialog = new StreamLineDialog(this);
    mStreamLineDialog->setVisible(true);
    return 0;
}

int ControlDock::VolInfoClicked()
{
    if (!mVolInfo)
        mVolInfo = new VolInfo(this);
    // Built once, the dialog would otherwise keep the first dataset's size and extent.
    mVolInfo->refreshInformation();
    mVolInfo->setVisible(true);
    return 0;
}
