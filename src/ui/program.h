#pragma once

#include "background_printer.h"
#include "file_owners.h"
#include "link/qt_serial_line.h"
#include "main_form.h"
#include "qt_platform.h"
#include "records/journal_disk.h"
#include "state/context.h"

#include <memory>

// One life of the operator program: the window, the platform services and the
// shared state, wired together.
class Program
{
public:
    struct Options
    {
        // Empty: the system's port 1 and 2, chosen at each open.
        QString port1;
        QString port2;
        // Where set, Print writes this PDF instead of using the default printer.
        QString pdfReport;
        // How long Print waits on the print server before it tells the
        // operator, and how long it follows a job.
        BackgroundPrinter::Bounds printing;
        bool nativeDialogs = true;
        // Each run kept in the runs folder as it goes; off only to measure
        // what keeping it costs.
        bool journal = true;
    };

    explicit Program(const Options &options);
    ~Program();

    // Settings that must be made before the QApplication exists.
    static void prepareApplication();

    [[nodiscard]] MainForm &form() { return *m_form; }
    [[nodiscard]] Context &context() { return *m_context; }
    // Start-up, then the window shown centred on the screen.
    void show();

private:
    std::unique_ptr<MainForm> m_form;
    QWidget *m_dialogParent = nullptr;
    QtSerialLine m_line;
    QtEventPump m_pump;
    std::unique_ptr<QtTimer> m_timer1;
    std::unique_ptr<QtTimer> m_timer3;
    QtMessageBox m_messages{m_dialogParent};
    QtFileDialog m_files{m_dialogParent};
    std::unique_ptr<PrinterService> m_printer;
    SystemClock m_clock;
    ProcessTerminator m_terminator;
    SystemFileOwners m_owners;
    std::unique_ptr<Context> m_context;
    std::unique_ptr<ThreadedJournalDisk> m_journalDisk;
    std::unique_ptr<RunJournal> m_journal;
};
