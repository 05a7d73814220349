#pragma once

#include <QDialog>

class QGridLayout;
class QLabel;
class QSpinBox;
class QTextEdit;

// Reports the loaded dataset (loadedVolume, never the resampled grid): its size and world
// extent, and the interpolated point at a position dialled in as whole and hundredth parts
// of loadedVolume's index space.
class VolInfo : public QDialog
{
    Q_OBJECT
public:
    explicit VolInfo(QWidget *parent = nullptr);

    // Re-reads size and extent of the current dataset into the information label and the
    // whole-part ranges, then re-samples the report at the kept position. The control dock
    // calls it each time it shows the dialog, since the dialog outlives every load.
    void refreshInformation();

    // Shown instead of a report while no dataset (or an empty one) is loaded.
    static QString noDataText();

    QSpinBox *xSpin() const { return mXSpin; }
    QSpinBox *ySpin() const { return mYSpin; }
    QSpinBox *xFracSpin() const { return mXFracSpin; }
    QSpinBox *yFracSpin() const { return mYFracSpin; }
    QTextEdit *output() const { return mOutput; }
    QLabel *informationLabel() const { return mInfoLabel; }

public slots:
    int valChanged();

private:
    // During a load (which processes events) loadedVolume is half filled: queue the work
    // for when the load has ended. Report and refresh share one queued request, because a
    // newer request from this dialog replaces an older one.
    void deferUntilIdle(bool refresh);
    void runDeferred();

    QGridLayout *mGridLayout;
    QSpinBox *mXSpin;
    QSpinBox *mYSpin;
    QSpinBox *mXFracSpin;
    QSpinBox *mYFracSpin;
    QTextEdit *mOutput;
    QLabel *mInfoLabel;
    bool mRefreshPending = false;
};
