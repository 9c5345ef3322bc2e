// Runs the real window in a process of its own, for what only a whole
// process can show: that Exit ends the program from inside any wait, and
// what the window looks like on a real display.
//
//   window_probe exit <menu item|close> <port path>   (the item is chosen, then Exit)
//   window_probe screenshot <png path> [panel]   (panel: with the port panel shown)
//   window_probe journal <port path> [hung]   (Run from the menu; prints "S k v" for
//                                    each second k the run clock has closed; hung: the
//                                    journal's disk hangs, and Exit is chosen at 2 s)
#include "records/runs_folder.h"
#include "ui/program.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void say(const char *what)
{
    std::printf("%s\n", what);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    Program::Options options;
    options.port1 = mode == u"exit" ? args.value(3) : mode == u"journal" ? args.value(2) : QString();
    Program program(options);
    program.show();
    Context &c = program.context();
    const auto choose = [&program](const char *item) {
        program.form().findChild<QAction *>(QString::fromLatin1(item))->trigger();
    };

    if (mode == u"screenshot" && args.size() > 2) {
        program.form().setPortPanelVisible(args.value(3) == u"panel");
        QTimer::singleShot(800, [&] {
            const QPixmap shot = program.form().screen()->grabWindow(0).copy(program.form().frameGeometry());
            say(shot.save(args[2]) ? "saved" : "not saved");
            app.quit();
        });
        return app.exec();
    }
    if (mode == u"journal") {
        // What the monitor stored, second by second, to hold the journal against.
        QTimer seconds;
        int closed = 0;
        QObject::connect(&seconds, &QTimer::timeout, [&] {
            for (; closed < int(c.state.runTicks.leadingNumber()); ++closed)
                std::printf("S %d %s\n", closed,
                            qPrintable(c.state.samples[std::size_t(closed)].plainForm()));
            std::fflush(stdout);
        });
        seconds.start(20);
        if (args.value(3) == u"hung") {
            // A pipe in place of the journal's temporary, for each second the
            // run may start in: opening it waits for a reader that never comes.
            const QString runs = runs::folder();
            QDir().mkpath(runs);
            const QDateTime now = QDateTime::currentDateTime();
            for (int k = 0; k < 4; ++k) {
                const QString name = now.addSecs(k).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
                mkfifo(QFile::encodeName(runs + QStringLiteral("/.%1.%2-1.part").arg(name).arg(getpid())),
                       0600);
            }
            QTimer::singleShot(2000, [&] {
                say("exiting");
                choose("exit");
            });
        }
        QTimer::singleShot(50, [&] { choose("from8031"); });
        return app.exec();
    }
    if (mode != u"exit" || args.size() < 3)
        return 2;

    const QString wait = args[2];
    QTimer::singleShot(50, [&] {
        if (wait == u"close")
            return;
        // Every stage filled in, so that a Parameter Transfer gets as far as its wait.
        for (int n = 1; n <= 6; ++n)
            program.form().setText(Form::Field(n), QStringLiteral("120"));
        say("waiting");
        choose(qPrintable(wait));
        say("RESUMED"); // must never appear: Exit ends the program inside the wait
    });
    QTimer::singleShot(600, [&] {
        say("exiting");
        if (wait == u"close")
            program.form().close();
        else
            choose("exit");
        say("STILL RUNNING");
    });
    return app.exec();
}
