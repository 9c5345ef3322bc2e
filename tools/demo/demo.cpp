// The operator program bound to the simulated oven: port 1 is the simulator's
// pseudo-terminal and Print writes a PDF. With --tour it drives a short
// session through the menus by itself and keeps screenshots, the record and
// the report, for a machine without a display. --printer prints on the
// system's default printer instead; --print-at S also chooses Print S
// seconds into the tour's run.
#include "ui/program.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// Answers whatever modal dialog the program shows, as an operator would.
class Operator : public QObject
{
public:
    explicit Operator(QObject *parent) : QObject(parent)
    {
        connect(&m_timer, &QTimer::timeout, this, &Operator::look);
        m_timer.start(100);
    }
    QString nextFile;

private:
    void look()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            say(QStringLiteral("  message: %1").arg(box->text()));
            box->accept();
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            say(QStringLiteral("  file dialog: %1").arg(nextFile));
            dialog->selectFile(nextFile);
            static_cast<QDialog *>(dialog)->accept();
        }
        // Notices that do not hold off a run are read, not answered.
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w);
                box && box->isVisible() && !box->isModal() && !m_read.contains(box->text())) {
                m_read << box->text();
                say(QStringLiteral("  notice: %1").arg(box->text()));
            }
    }
    QTimer m_timer;
    QStringList m_read;
};

} // namespace

int main(int argc, char *argv[])
{
    Program::prepareApplication();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const QString &name, const QString &fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const bool tour = args.contains(QStringLiteral("--tour"));
    const QString out = QDir(option(tour ? QStringLiteral("--tour") : QStringLiteral("--out"),
                                    QStringLiteral("demo-output")))
                                .absolutePath();
    const double timeFactor = option(QStringLiteral("--time-factor"), QStringLiteral("15")).toDouble();
    const int seconds = option(QStringLiteral("--seconds"), QStringLiteral("45")).toInt();
    QDir().mkpath(out);

    const QStringList profile = option(QStringLiteral("--profile"), QStringLiteral("160,40,210,30,235,25"))
                                        .split(u',');
    if (profile.size() != 6) {
        say(QStringLiteral("--profile takes six values"));
        return 2;
    }
    QProcess simulator;
    // Port 1 is a link the simulator keeps pointing at its line, so that a
    // pulled and replaced cable (--unplug-at S[:D]) comes back under one name.
    QTemporaryDir linkDir;
    const QString port1 = linkDir.filePath(QStringLiteral("port1"));
    QStringList simArgs{QStringLiteral("--time-factor"), QString::number(timeFactor),
                        QStringLiteral("--link"), port1};
    const QString unplugAt = option(QStringLiteral("--unplug-at"), QString());
    if (!unplugAt.isEmpty())
        simArgs << QStringLiteral("--unplug-at") << unplugAt;
    const QString simLog = option(QStringLiteral("--sim-log"), QString());
    if (simLog.isEmpty()) {
        simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    } else {
        simArgs << QStringLiteral("--log") << QStringLiteral("--noise") << QStringLiteral("0");
        simulator.setStandardErrorFile(simLog);
    }
    simulator.start(QCoreApplication::applicationDirPath() + QStringLiteral("/oven-sim"), simArgs);
    if (!simulator.waitForReadyRead(5000)) {
        say(QStringLiteral("The oven simulator did not start."));
        return 1;
    }
    const QString line = QString::fromLocal8Bit(simulator.readLine()).trimmed();
    if (!line.startsWith(QStringLiteral("PTY "))) {
        say(QStringLiteral("The oven simulator said: %1").arg(line));
        return 1;
    }
    Program::Options options;
    options.port1 = port1;
    if (!args.contains(QStringLiteral("--printer")))
        options.pdfReport = out + QStringLiteral("/report.pdf");
    options.nativeDialogs = !tour;
    Program program(options);
    program.show();
    say(QStringLiteral("Port 1 is the simulated oven (%1, now %2), %3 oven seconds to the second.")
                .arg(options.port1, line.mid(4))
                .arg(timeFactor));
    say(options.pdfReport.isEmpty() ? QStringLiteral("Print prints on the default printer.")
                                    : QStringLiteral("Print writes %1.").arg(options.pdfReport));
    if (!tour)
        return app.exec();

    MainForm &form = program.form();
    auto *op = new Operator(&app);
    auto menu = [&form](const char *item) {
        say(QStringLiteral("menu: %1").arg(form.findChild<QAction *>(item)->text().remove(u'&')));
        form.findChild<QAction *>(item)->trigger();
    };
    auto shot = [&form, out](const char *name) {
        const QString file = out + QStringLiteral("/%1.png").arg(name);
        form.grab().save(file);
        say(QStringLiteral("  screenshot: %1").arg(file));
    };
    // Each step is armed before the first runs: Run never returns, so later
    // steps run inside its wait, as an operator's clicks would.
    qint64 at = 0;
    auto step = [&](qint64 after, std::function<void()> action) {
        at += after;
        QTimer::singleShot(at, &app, std::move(action));
    };
    step(500, [&] { shot("01-start"); });
    step(300, [&] {
        say(QStringLiteral("edit: profile %1").arg(profile.join(u',')));
        for (int i = 0; i < 6; ++i)
            form.findChild<QLineEdit *>(QStringLiteral("Text%1").arg(i + 1))->setText(profile[i]);
        shot("02-edited");
    });
    step(500, [&] { menu("to8031"); });
    step(1500, [&] {
        for (int i = 1; i <= 6; ++i)
            form.findChild<QLineEdit *>(QStringLiteral("Text%1").arg(i))->clear();
        menu("getcanshu");
    });
    step(1000, [&] {
        QStringList loaded;
        for (int i = 1; i <= 6; ++i)
            loaded << form.findChild<QLineEdit *>(QStringLiteral("Text%1").arg(i))->text();
        say(QStringLiteral("  loaded: %1").arg(loaded.join(u',')));
        shot("03-loaded");
    });
    step(500, [&] { menu("from8031"); });
    if (const int printAt = option(QStringLiteral("--print-at"), QStringLiteral("-1")).toInt();
        printAt >= 0 && printAt < seconds / 2)
        QTimer::singleShot(at + printAt * 1000, &app, [&] { menu("printpaper"); });
    step(seconds * 1000 / 2, [&] { shot("04-running"); });
    step(seconds * 1000 - seconds * 1000 / 2, [&] { menu("stop"); });
    step(2500, [&] { shot("05-stopped"); });
    step(500, [&, op] {
        op->nextFile = out + QStringLiteral("/run.dbf");
        menu("savefile");
    });
    step(1500, [&] { menu("openfile"); });
    step(1500, [&] { shot("06-opened"); });
    step(500, [&] { menu("printpaper"); });
    step(1500, [&] {
        say(QStringLiteral("Done: screenshots, run.dbf and report.pdf are in %1").arg(out));
        simulator.terminate();
        simulator.waitForFinished(2000);
        menu("exit");
    });
    return app.exec();
}
