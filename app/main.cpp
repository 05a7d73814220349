#include "app/ControlDock.h"

#include <QApplication>
#include <QDebug>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    // Lives until the process exits: dialogs parented to the dock outlive main's scope.
    auto *app = new QApplication(argc, argv);
    qDebug() << "Starting Tessaly ...";

    auto *window = new QWidget;
    auto *layout = new QVBoxLayout;
    auto *dock = new ControlDock(nullptr);
    layout->addWidget(dock);
    window->setWindowTitle(QStringLiteral(".:Korvu:. Beispiel 2"));
    window->setLayout(layout);
    window->show();
    return app->exec();
}
