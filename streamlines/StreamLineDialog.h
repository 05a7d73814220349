#pragma once

#include <QDialog>

// Placeholder until the streamline view arrives: an empty dialog.
class StreamLineDialog : public QDialog
{
    Q_OBJECT
public:
    explicit StreamLineDialog(QWidget *parent = nullptr) : QDialog(parent) {}
};
