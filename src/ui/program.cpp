#include "program.h"

#include "link/load.h"
#include "link/port.h"
#include "link/transfer.h"
#include "qt_printer.h"
#include "records/record_file.h"
#include "records/runs_folder.h"
#include "report/pdf_printer.h"
#include "report/report.h"
#include "run/monitor.h"
#include "run/run_book.h"
#include "run/run_start.h"
#include "run/run_stop.h"
#include "startup.h"

void Program::prepareApplication()
{
    // On X11, Qt hands each repaint to the server through shared memory and
    // must then wait for the server before painting again: a round trip and
    // a wake-up per presentation, and one put per rectangle. The monitor's
    // repaints are a few small patches twenty times a second, which are
    // cheaper sent over the socket. Whoever sets the variable keeps the
    // choice; other platforms ignore it.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

Program::Program(const Options &options)
    : m_form(std::make_unique<MainForm>()), m_line(options.port1, options.port2)
{
    m_dialogParent = m_form.get();
    m_files.setNative(options.nativeDialogs);
    m_timer1 = std::make_unique<QtTimer>();
    m_timer3 = std::make_unique<QtTimer>();
    std::unique_ptr<PageDevice> printer;
    if (options.pdfReport.isEmpty())
        printer = std::make_unique<SystemPrinter>();
    else
        printer = std::make_unique<PdfPrinter>(options.pdfReport);
    m_printer = std::make_unique<BackgroundPrinter>(std::move(printer), options.printing);

    m_context = std::make_unique<Context>(Services{.form = *m_form,
                                                   .line = m_line,
                                                   .pump = m_pump,
                                                   .Timer1 = *m_timer1,
                                                   .Timer3 = *m_timer3,
                                                   .messages = m_messages,
                                                   .files = m_files,
                                                   .printer = *m_printer,
                                                   .clock = m_clock,
                                                   .terminator = m_terminator,
                                                   .owners = &m_owners});
    Context &c = *m_context;
    wireServices(c);
    const QString runs = runs::folder();
    m_files.setOpenPlace(runs);
    if (options.journal) {
        m_journalDisk = std::make_unique<ThreadedJournalDisk>();
        m_journal = std::make_unique<RunJournal>(*m_journalDisk, m_messages, m_clock, runs);
        c.journal = m_journal.get();
        // Exit ends the program at once; a record already handed over gets a
        // moment to reach the disk, a hung one does not hold the end up.
        m_terminator.beforeEnd = [this] { (void)m_journalDisk->settle(std::chrono::milliseconds(250)); };
    }
    MainForm &f = *m_form;
    f.setCommands({.openfile = [&c] { openfile_Click(c); },
                   .savefile = [&c] { savefile_Click(c); },
                   .printpaper = [&c] { printpaper_Click(c); },
                   .exit = [&c] { exit_Click(c); },
                   .selectport = [&c] { selectport_Click(c); },
                   .to8031 = [&c] { to8031_Click(c); },
                   .getcanshu = [&c] { getcanshu_Click(c); },
                   .stopcomm = [&c] { stopcomm_Click(c); },
                   .from8031 = [&c] { from8031_Click(c); },
                   .stop = [&c] { stop_Click(c); },
                   .yes = [&c] { yes_Click(c); },
                   .cancel = [&c] { cancel_Click(c); }});
    f.setCloseHandler([&c] { exit_Click(c); });
    // Only the run monitor shows readouts that follow the clock.
    m_pump.setHeartbeatWanted([&c] { return monitoring(c); });
}

Program::~Program() = default;

void Program::show()
{
    Form_Load(*m_context);
    m_form->show();
    m_form->centreOnScreen();
}
