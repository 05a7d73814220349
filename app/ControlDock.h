#pragma once

#include <QPointer>
#include <QWidget>

class ArrowPlotDialog;
class StreamLineDialog;
class VolInfo;
class QMessageBox;
class QPushButton;

// The row of four buttons in the main window: load a dataset, open the three views.
class ControlDock : public QWidget
{
    Q_OBJECT
public:
    explicit ControlDock(QWidget *parent = nullptr);

    // Loads a grid file and its data file into loadedVolume and resamples gridVolume.
    // Ignored while another load or computation runs. A refused file leaves both volumes
    // empty, and a message box beside the dock names it and the reason.
    void loadDataset(const QString &fileName);
    // That message box while it is open, else null.
    QMessageBox *loadMessage() const;

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
    // Shows a refused load's reason without blocking, or closes an earlier one's message.
    void showLoadResult(const QString &fileName, const QString &refusal);

    QPushButton *mLoadButton;
    QPushButton *mArrowPlotButton;
    QPushButton *mStreamLinesButton;
    QPushButton *mVolInfoButton;
    ArrowPlotDialog *mArrowPlotDialog;
    StreamLineDialog *mStreamLineDialog;
    VolInfo *mVolInfo;
    QPointer<QMessageBox> mLoadMessage;
};
