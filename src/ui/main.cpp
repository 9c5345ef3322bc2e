#include "program.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    Program::prepareApplication();
    QApplication app(argc, argv);
    Program program{Program::Options{}};
    program.show();
    return app.exec();
}
