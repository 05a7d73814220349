#include "VolInfo.h"

#include "Busy.h"
#include "Volume.h"

#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTextEdit>

#include <cmath>

namespace {

// The dataset the dialog may read, or null when there is none worth reading: a failed load
// leaves an empty volume behind, whose extent is meaningless.
Volume *currentDataset()
{
    if (!loadedVolume || loadedVolume->pointCount() == 0)
        return nullptr;
    return loadedVolume;
}

QString informationText(const Volume *v)
{
    if (!v)
        return QStringLiteral("DatasetSize: (0 x 0)");
    return QString::asprintf("DatasetSize: (%i x %i)\n MaxPos: (%f,%f)\n MinPos: (%f,%f)", v->getDimX(),
                             v->getDimY(), v->mMaxPos.x, v->mMaxPos.y, v->mMinPos.x, v->mMinPos.y);
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
    return QStringLiteral("Data must be loaded first");
}

VolInfo::VolInfo(QWidget *parent) : QDialog(parent)
{
    mGridLayout = new QGridLayout(this);

    const Volume *v = Busy::isBusy() ? nullptr : currentDataset();
    mXSpin = makeSpin(v ? v->getDimX() : 0);
    mYSpin = makeSpin(v ? v->getDimY() : 0);
    mXFracSpin = makeSpin(100);
    mYFracSpin = makeSpin(100);

    mOutput = new QTextEdit(QString(), this);

    mInfoLabel = new QLabel(informationText(v));
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
    Volume *v = currentDataset();
    mInfoLabel->setText(informationText(v));
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
    Volume *v = currentDataset();
    if (!v) {
        mOutput->setPlainText(noDataText());
        return 0;
    }

    // Index-space position, rounded once to single precision.
    const float x = static_cast<float>(mXSpin->value() + mXFracSpin->value() * 0.01);
    const float y = static_cast<float>(mYSpin->value() + mYFracSpin->value() * 0.01);

    QString text = QString::asprintf("(%fx%f): \n", x, y);
    const DataPoint p = v->getValue(x, y, 0.0);
    text += QString::asprintf("  mPos: (%f,%f,%f) \n", p.mPos.x, p.mPos.y, p.mPos.z);
    text += QString::asprintf("  mDir: (%f,%f,%f) \n", p.mDir.x, p.mDir.y, p.mDir.z);
    bool missing = std::isnan(p.mDir.x) || std::isnan(p.mDir.y) || std::isnan(p.mDir.z);
    for (int i = 0; i < p.mValues.size(); ++i) {
        text += QString::asprintf("  Value %i: %f \n", i, static_cast<double>(p.mValues[i]));
        missing = missing || std::isnan(p.mValues[i]);
    }
    // Imported datasets mark missing data as NaN; printf may give it a sign ("-nan").
    if (missing) {
        text.replace(QLatin1String("-nan"), QLatin1String("nan"));
        text += QStringLiteral("  missing data at this position \n");
    }
    // Grid position of the stored point at or below the position (truncated indices).
    const Vector3 o = v->getGridPos(static_cast<int>(x), static_cast<int>(y), 0);
    text += QString::asprintf("  outPutPos: (%f,%f,%f)", o.x, o.y, o.z);

    mOutput->setPlainText(text);
    return 0;
}

void VolInfo::deferUntilIdle(bool refresh)
{
    mRefreshPending = mRefreshPending || refresh;
    Busy::whenIdle(this, [this] { runDeferred(); });
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
