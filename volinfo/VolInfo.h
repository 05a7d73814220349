#pragma once

#include <QDialog>

// Placeholder until the volume information dialog arrives: an empty dialog.
class VolInfo : public QDialog
{
    Q_OBJECT
public:
    explicit VolInfo(QWidget *parent = nullptr) : QDialog(parent) {}
    // Re-reads size and extent of the current dataset.
    void refreshInformation() {}
};
