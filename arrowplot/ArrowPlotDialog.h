#pragma once

#include <QDialog>

// Placeholder until the arrow plot arrives: an empty dialog.
class ArrowPlotDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ArrowPlotDialog(QWidget *parent = nullptr) : QDialog(parent) {}
    void refreshPlot() {}
};
