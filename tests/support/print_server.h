#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A CUPS scheduler of the test's own on a free loopback port, with its own
// configuration, spool and log in a private folder, and raw queues:
//   refusing (the default)  refuses jobs: "Out of paper, come back later"
//   accepting               takes jobs and keeps their documents
//   stopped                 holds jobs: "Paused by the test"
//   slow                    takes five seconds over a page
//   jamming                 aborts each job after two seconds: "Paper jam reported by the test"
// The program and the test talk to it once start() has set CUPS_SERVER.
class PrintServer
{
public:
    PrintServer() = default;
    ~PrintServer();
    PrintServer(const PrintServer &) = delete;
    PrintServer &operator=(const PrintServer &) = delete;

    // Empty when the server is up; else why it is not (a reason to skip).
    QString start();
    // Where the scheduler keeps the document of a job.
    [[nodiscard]] QString document(int job) const;
    [[nodiscard]] QString log() const;

private:
    QTemporaryDir m_dir;
    QProcess m_cupsd;
};

// A socket on a free port of 127.0.0.1, listening where asked, and its port
// (0 where none could be had).
std::pair<int, int> loopbackSocket(bool listening);
