// Another program on the same machine, holding a port the test then cannot
// open alone:
//   port_helper hold PATH        holds the port open until standard input closes
#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3 || QString::fromLocal8Bit(argv[1]) != u"hold")
        return 2;
    QSerialPort port(QString::fromLocal8Bit(argv[2]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("error: %s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char c;
        if (::read(STDIN_FILENO, &c, 1) <= 0)
            app.quit();
    });
    return app.exec();
}
