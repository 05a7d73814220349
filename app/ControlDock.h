#pragma once

#include <QWidget>

class ArrowPlotDialog;
class StreamLineDialog;
class VolInfo;
class QPushButton;

// The row of four buttons in the main window: load a dataset, open the three views.
class ControlDock : public QWidget
{
    Q_OBJECT
public:
    explicit ControlDock(QWidget *parent = nullptr);

    // Loads a grid file and its data file into loadedVolume and resamples gridVolume.
    // Ignored while another load or computation runs.
    void loadDataset(const QString &fileName);

    ArrowPlotDialog *arrowPlotDialog() const { return mArrowPlotDialog; }
    StreamLineDialog *streamLineDialog() const { return mStreamLineDialog; }
    VolInfo *volInfo() const { return mVolInfo; }

public slots:
    int loadClicked();
    int ArrowPlotClicked();
    int StreamLinesClicked();
    int VolInfoClicked();

protected:
    // Asks the user for a grid file; an empty name means cancelled.
    virtual QString askForDataset();

private:
    void setBusy(bool busy);

    QPushButton *mLoadButton;
    QPushButton *mArrowPlotButton;
    QPushButton *mStreamLinesButton;
    QPushButton *mVolInfoButton;
    ArrowPlotDialog *mArrowPlotDialog;
    StreamLineDialog *mStreamLineDialog;
    VolInfo *mVolInfo;
};
