#include "TestSupport.h"

#include "directory/Table.h"
#include "mainwindow/MainWindow.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

void whenModalOpens(const std::function<void(QWidget*)>& act)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
            modal->close();
        }
    });
    timer->start();
}

std::unique_ptr<TForm1> openWindow(const Platform& platform)
{
    auto form = std::make_unique<TForm1>(platform);
    form->Table1->setBackgroundWork(false);
    return form;
}
