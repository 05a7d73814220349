#pragma once

#include "app/ControlDock.h"

#include <QStringList>

// A control dock whose file dialog answers from `answers` in turn and then as cancelled
// (empty), counting how often it was asked.
class ScriptedDock : public ControlDock
{
public:
    QStringList answers;
    int asked = 0;

protected:
    QString askForDataset() override
    {
        ++asked;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};
