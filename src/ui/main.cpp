#include "program.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Program program{Program::Options{}};
    program.show();
    return app.exec();
}
