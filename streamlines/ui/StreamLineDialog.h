#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QKeyEvent;
class QPushButton;
class QSlider;
class QSpinBox;
class QVBoxLayout;
class streamlines;

// The streamline window: the view beside a column of controls for the integration method,
// step, maximum length, antialiasing and evenly spaced seeding, with "redraw", "Reset" and
// "Save Image". Every control writes one parameter of the view; only "redraw", "Reset" and
// mouse releases on the view render. Holding Ctrl makes right clicks on the view zoom out.
class StreamLineDialog : public QDialog
{
    Q_OBJECT
public:
    explicit StreamLineDialog(QWidget *parent = nullptr);
    ~StreamLineDialog() override;

    streamlines *view() const { return mView; }

    // Length limit offered when there is no grid to take it from (the no-data view's height).
    static constexpr int kNoDataMaxLength = 538;

public slots:
    int resetStreamLines();
    int saveClicked();
    int IntegrationChanged();
    int dtChanged();
    int strLengthchanged();
    int AAchanged();
    int evenlyChanged();
    int dsepChanged();
    int dtestChanged();
    int RedrawClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void createControls(int maxLength);
    void layOutControls(int maxLength);
    void nameControls();
    void connectControls();

    QGridLayout *mGridLayout;
    QPushButton *mResetButton;
    streamlines *mView;
    QPushButton *mSaveButton;
    QVBoxLayout *mControlsLayout;
    QComboBox *mMethodCombo;
    QCheckBox *mAntialiasCheck;
    QCheckBox *mEvenlyCheck;
    QSlider *mDtSlider;
    QSlider *mDSepSlider;
    QSlider *mDTestSlider;
    QSpinBox *mLengthSpin;
    QPushButton *mRedrawButton;
};
