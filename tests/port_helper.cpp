// Another program on the same machine, for the serial faults a test cannot
// make alone:
//   port_helper hold PATH        holds the port open until standard input closes
//   port_helper load-as-nobody PATH
//                                drops to user nobody, then runs Parameter Load
//                                on PATH and prints every message shown
#include "real_rig.h"

#include "link/load.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString path = QString::fromLocal8Bit(argv[2]);
    if (mode == u"hold") {
        QSerialPort port(path);
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
    if (mode == u"load-as-nobody") {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            std::printf("cannot drop privileges\n");
            return 3;
        }
        PtyRig rig(path);
        rig.messages.whileOpen = [](const QString &text) {
            std::printf("message: %s\n", qPrintable(text));
            std::fflush(stdout);
        };
        getcanshu_Click(rig.c); // returns at once when the port cannot be opened
        std::printf("returned\n");
        return 0;
    }
    return 2;
}
