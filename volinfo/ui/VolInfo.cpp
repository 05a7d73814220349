#include "volinfo/ui/VolInfo.h"

#include "data/ui/Busy.h"
#include "data/ui/ProgressDialog.h"
#include "volinfo/VolumeReport.h"
#include "data/ui/Volumes.h"

#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTextEdit>

#include <cmath>

namespace {

// The dataset the dialog may read, or null when there is none worth reading: a failed load
// leaves an empty volume behind, whose extent is meaningless.
const Volume *readableDataset()
{
    if (!loadedVolume || loadedVolume->pointCount() == 0)
        return nullptr;
    return loadedVolume;
}

QSpinBox *makeSpin(int maximum)
{
    auto *spin = new QSpinBox;
    spin->setRange(0, maximum);
    spin->setSingleStep(1);
    spin->setValue(0);
    return spin;
}

} // namespace

QString VolInfo::noDataText()
{
    return volumereport::noDataText();
}

VolInfo::VolInfo(QWidget *parent) : QDialog(parent)
{
    ProgressDialog::install(); // the computations this starts show their progress as dialogs
    mGridLayout = new QGridLayout(this);

    const Volume *v = Busy::isBusy() ? nullptr : readableDataset();
    mXSpin = makeSpin(v ? v->getDimX() : 0);
    mYSpin = makeSpin(v ? v->getDimY() : 0);
    mXFracSpin = makeSpin(100);
    mYFracSpin = makeSpin(100);

    mOutput = new QTextEdit(QString(), this);

    mInfoLabel = new QLabel(volumereport::informationText(v));
    auto *spacer = new QLabel;
    auto *xLabel = new QLabel(QStringLiteral("X-Position:"));
    auto *yLabel = new QLabel(QStringLiteral("Y-Position:"));

    // No positions: each widget takes the next row of a single column.
    for (QWidget *w : {static_cast<QWidget *>(mInfoLabel), static_cast<QWidget *>(spacer),
                       static_cast<QWidget *>(xLabel), static_cast<QWidget *>(mXSpin),
                       static_cast<QWidget *>(mXFracSpin), static_cast<QWidget *>(yLabel),
                       static_cast<QWidget *>(mYSpin), static_cast<QWidget *>(mYFracSpin),
                       static_cast<QWidget *>(mOutput)})
        mGridLayout->addWidget(w);

    connect(mYSpin, &QSpinBox::valueChanged, this, &VolInfo::valChanged);
    connect(mXSpin, &QSpinBox::valueChanged, this, &VolInfo::valChanged);
    connect(mXFracSpin, &QSpinBox::valueChanged, this, &VolInfo::valChanged);
    connect(mYFracSpin, &QSpinBox::valueChanged, this, &VolInfo::valChanged);

    // Built in the middle of a load, the label and ranges wait for the finished dataset.
    if (Busy::isBusy())
        deferUntilIdle(true);
    valChanged();
}

void VolInfo::refreshInformation()
{
    if (Busy::isBusy()) {
        deferUntilIdle(true);
        return;
    }
    const Volume *v = readableDataset();
    mInfoLabel->setText(volumereport::informationText(v));
    // Shrinking a range clamps the value; one report for the final position is enough.
    for (QSpinBox *s : {mXSpin, mYSpin})
        s->blockSignals(true);
    mXSpin->setRange(0, v ? v->getDimX() : 0);
    mYSpin->setRange(0, v ? v->getDimY() : 0);
    for (QSpinBox *s : {mXSpin, mYSpin})
        s->blockSignals(false);
    // The shown report may belong to the previous dataset (or say there was none).
    valChanged();
}

int VolInfo::valChanged()
{
    if (Busy::isBusy()) {
        deferUntilIdle(false);
        return 0;
    }
    const Volume *v = readableDataset();
    if (!v) {
        mOutput->setPlainText(noDataText());
        return 0;
    }

    const float x = volumereport::dialPosition(mXSpin->value(), mXFracSpin->value());
    const float y = volumereport::dialPosition(mYSpin->value(), mYFracSpin->value());
    const QString text = volumereport::text(volumereport::sample(*v, x, y));
    mOutput->setPlainText(text);
    return 0;
}

void VolInfo::deferUntilIdle(bool refresh)
{
    mRefreshPending = mRefreshPending || refresh;
    Busy::whenIdle(this, Busy::Report, [this] { runDeferred(); });
}

void VolInfo::runDeferred()
{
    const bool refresh = mRefreshPending;
    mRefreshPending = false;
    // A refresh re-samples the report as well.
    if (refresh)
        refreshInformation();
    else
        valChanged();
}
