#pragma once

#include "ControlDock.h"

#include <QStringList>

// A control dock whose file dialog answers from `answers` in turn and then with `next`
// (empty: the dialog was cancelled), counting how often it was asked.
class ScriptedDock : public ControlDock
{
public:
    QStringList answers;
    QString next;
    int asked = 0;

protected:
    QString askForDataset() override
    {
        ++asked;
        return answers.isEmpty() ? next : answers.takeFirst();
    }
};
