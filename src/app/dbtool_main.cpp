#include "directory/DbTool.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return DbTool::run(QCoreApplication::arguments().mid(1));
}
