#include "streamlines/ui/StreamLineDialog.h"

#include "data/CFormat.h"
#include "data/SinglePrecision.h"
#include "streamlines/StreamlineRender.h"
#include "data/ui/Volumes.h"
#include "streamlines/ui/streamlines.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpacerItem>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const char *const kImageFileName = "streamlines";
const char *const kImageSuffix = ".png";

} // namespace

StreamLineDialog::StreamLineDialog(QWidget *parent) : QDialog(parent)
{
    // The length limit is offered up to the grid's height. Without a usable grid there is
    // no height to read, so the no-data view's height stands in for it.
    const Volume *grid = usableGrid(gridVolume);
    const int maxLength = grid ? grid->getDimY() : kNoDataMaxLength;

    mView = new streamlines(nullptr);
    createControls(maxLength);
    layOutControls(maxLength);
    nameControls();
    // Connected after every initial value is set, so building the dialog runs no slot.
    connectControls();
}

void StreamLineDialog::createControls(int maxLength)
{
    mResetButton = new QPushButton(QStringLiteral("Reset"));
    mResetButton->setFixedSize(80, 25);
    mSaveButton = new QPushButton(QStringLiteral("Save Image"), this);

    mMethodCombo = new QComboBox;
    mMethodCombo->addItem(QStringLiteral("Euler"));
    mMethodCombo->addItem(QStringLiteral("Runge-Kutta"));
    mMethodCombo->setCurrentIndex(0);

    mDtSlider = new QSlider(Qt::Horizontal);
    mDtSlider->setRange(1, 750);
    mDtSlider->setValue(streamlineDefaults::kDtSlider);

    mLengthSpin = new QSpinBox;
    mLengthSpin->setSingleStep(1);
    mLengthSpin->setRange(1, maxLength);
    mLengthSpin->setValue(streamlineDefaults::kMaxLength);

    mAntialiasCheck = new QCheckBox(QStringLiteral("Use Antialiased Lines"), this);
    mAntialiasCheck->setChecked(false);
    mEvenlyCheck = new QCheckBox(QStringLiteral("Evenlyspaced Seedpoints"));
    mEvenlyCheck->setChecked(false);

    mDSepSlider = new QSlider(Qt::Horizontal);
    mDSepSlider->setRange(1, 100);
    mDSepSlider->setValue(streamlineDefaults::kDSepSlider);
    mDTestSlider = new QSlider(Qt::Horizontal);
    mDTestSlider->setRange(1, 100);
    mDTestSlider->setValue(streamlineDefaults::kDTestSlider);

    mRedrawButton = new QPushButton(QStringLiteral("redraw"), this);
}

// The column of controls with its captions and hints, left of the view; the buttons below it.
void StreamLineDialog::layOutControls(int maxLength)
{
    mGridLayout = new QGridLayout;
    mControlsLayout = new QVBoxLayout;
    mControlsLayout->addItem(new QSpacerItem(10, 30, QSizePolicy::Minimum, QSizePolicy::Minimum));
    mControlsLayout->addWidget(new QLabel(QStringLiteral("Integration Method:")));
    mControlsLayout->addWidget(mMethodCombo);
    mControlsLayout->addWidget(new QLabel(QStringLiteral("Dt:")));
    mControlsLayout->addWidget(mDtSlider);
    mControlsLayout->addWidget(new QLabel(cformat("Streamline max length: %i", maxLength)));
    mControlsLayout->addWidget(mLengthSpin);
    mControlsLayout->addWidget(new QLabel(QStringLiteral("Number of Streamlines:")));
    mControlsLayout->addWidget(mAntialiasCheck);
    mControlsLayout->addWidget(mEvenlyCheck);
    mControlsLayout->addWidget(new QLabel(QStringLiteral("Dsep:")));
    mControlsLayout->addWidget(mDSepSlider);
    mControlsLayout->addWidget(new QLabel(QStringLiteral("Dtest:")));
    mControlsLayout->addWidget(mDTestSlider);
    mControlsLayout->addStretch(1);
    mControlsLayout->addStretch(1);
    mControlsLayout->addWidget(mRedrawButton);
    mControlsLayout->addStretch(1);
    auto *separator = new QFrame;
    separator->setFrameStyle(QFrame::HLine | QFrame::Plain);
    separator->setFixedSize(175, 5);
    mControlsLayout->addWidget(separator);
    mControlsLayout->addWidget(new QLabel(QStringLiteral("Zoom In: Right Click")));
    mControlsLayout->addWidget(new QLabel(QStringLiteral("Zoom Out: Ctrl + Right Click")));
    mControlsLayout->addWidget(new QLabel(QStringLiteral("Move: Left Click + Drag")));
    mControlsLayout->addItem(new QSpacerItem(10, 10, QSizePolicy::Minimum, QSizePolicy::Minimum));

    auto *buttonBox = new QHBoxLayout;
    buttonBox->addWidget(mResetButton);
    buttonBox->addWidget(mSaveButton);
    mGridLayout->addLayout(mControlsLayout, 1, 0, Qt::AlignLeft);
    mGridLayout->addWidget(mView, 1, 1, Qt::AlignCenter);
    mGridLayout->addLayout(buttonBox, 2, 0, Qt::AlignLeft);
    setLayout(mGridLayout);
}

void StreamLineDialog::nameControls()
{
    // Names for finding the controls from outside (tests, style sheets).
    mView->setObjectName(QStringLiteral("mView"));
    mResetButton->setObjectName(QStringLiteral("mResetButton"));
    mSaveButton->setObjectName(QStringLiteral("mSaveButton"));
    mMethodCombo->setObjectName(QStringLiteral("mMethodCombo"));
    mAntialiasCheck->setObjectName(QStringLiteral("mAntialiasCheck"));
    mEvenlyCheck->setObjectName(QStringLiteral("mEvenlyCheck"));
    mDtSlider->setObjectName(QStringLiteral("mDtSlider"));
    mDSepSlider->setObjectName(QStringLiteral("mDSepSlider"));
    mDTestSlider->setObjectName(QStringLiteral("mDTestSlider"));
    mLengthSpin->setObjectName(QStringLiteral("mLengthSpin"));
    mRedrawButton->setObjectName(QStringLiteral("mRedrawButton"));
}

void StreamLineDialog::connectControls()
{
    connect(mResetButton, &QPushButton::clicked, this, &StreamLineDialog::resetStreamLines);
    connect(mSaveButton, &QPushButton::clicked, this, &StreamLineDialog::saveClicked);
    connect(mMethodCombo, &QComboBox::activated, this, &StreamLineDialog::IntegrationChanged);
    connect(mAntialiasCheck, &QCheckBox::clicked, this, &StreamLineDialog::AAchanged);
    connect(mLengthSpin, &QSpinBox::valueChanged, this, &StreamLineDialog::strLengthchanged);
    connect(mDtSlider, &QSlider::valueChanged, this, &StreamLineDialog::dtChanged);
    connect(mEvenlyCheck, &QCheckBox::clicked, this, &StreamLineDialog::evenlyChanged);
    connect(mDSepSlider, &QSlider::valueChanged, this, &StreamLineDialog::dsepChanged);
    connect(mDTestSlider, &QSlider::valueChanged, this, &StreamLineDialog::dtestChanged);
    connect(mRedrawButton, &QPushButton::clicked, this, &StreamLineDialog::RedrawClicked);
}

StreamLineDialog::~StreamLineDialog() = default;

int StreamLineDialog::resetStreamLines()
{
    mMethodCombo->setCurrentIndex(0);
    mAntialiasCheck->setChecked(false);
    mEvenlyCheck->setChecked(false);
    mDtSlider->setValue(streamlineDefaults::kDtSlider);
    mLengthSpin->setValue(streamlineDefaults::kMaxLength);
    mDSepSlider->setValue(streamlineDefaults::kDSepSlider);
    mDTestSlider->setValue(streamlineDefaults::kDTestSlider);
    mView->resetParameters();
    mView->repaint();
    return 0;
}

int StreamLineDialog::saveClicked()
{
    const QString fileName = QString::fromLatin1(kImageFileName) + QString::fromLatin1(kImageSuffix);
    const QImage image = mView->getImage();
    // QImage encodes the name with QFile::encodeName itself.
    if (!image.save(fileName, "PNG", 75))
        qDebug().noquote() << QStringLiteral("Could not write the streamline image to %1.")
                                  .arg(QDir::current().absoluteFilePath(fileName));
    return 0;
}

int StreamLineDialog::IntegrationChanged()
{
    mView->mIntegrationMethod =
        mMethodCombo->currentText().toUpper() == QStringLiteral("Euler").toUpper() ? Euler : RungeKutta;
    return 0;
}

int StreamLineDialog::dtChanged()
{
    // The factor is single precision; the product is kept as a double (155 -> 1.5499999653548002).
    mView->mDt = mDtSlider->value() * static_cast<double>(0.01f);
    qDebug() << "Dt: " << consoleNumber(mView->mDt);
    return 0;
}

int StreamLineDialog::strLengthchanged()
{
    mView->mMaxLength = mLengthSpin->value();
    qDebug() << "MaxLength: " << mView->mMaxLength;
    return 0;
}

int StreamLineDialog::AAchanged()
{
    mView->mAntialiased = mAntialiasCheck->isChecked();
    return 0;
}

int StreamLineDialog::evenlyChanged()
{
    mView->computeSeedPoints(mEvenlyCheck->isChecked());
    return 0;
}

int StreamLineDialog::dsepChanged()
{
    mView->mDSep = static_cast<float>(mDSepSlider->value());
    qDebug() << "DSep: " << consoleNumber(mView->mDSep);
    return 0;
}

int StreamLineDialog::dtestChanged()
{
    mView->mDTest = roundToSingle(mDTestSlider->value() * 0.01);
    qDebug() << "Dtest: " << consoleNumber(mView->mDTest);
    return 0;
}

int StreamLineDialog::RedrawClicked()
{
    mView->drawStreamLines();
    return 0;
}

void StreamLineDialog::keyPressEvent(QKeyEvent *event)
{
    // Every other key is swallowed: Escape must not close the window.
    if (event->key() == Qt::Key_Control)
        mView->setCtrlPressed(true);
}

void StreamLineDialog::keyReleaseEvent(QKeyEvent *)
{
    mView->setCtrlPressed(false);
}
