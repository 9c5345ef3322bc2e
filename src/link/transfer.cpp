#include "transfer.h"

#include "port.h"
#include "protocol.h"
#include "state/context.h"

#include <cmath>

namespace {

bool isOffsetSlot(int step) { return step == 3 || step == 5; }

const char *slotName(int step)
{
    static const char *const names[] = {"",
                                        "Parameter1 Temperature (stage 1)",
                                        "Parameter1 Time(S) (stage 1)",
                                        "Parameter2 Temperature (stage 2)",
                                        "Parameter2 Time(S) (stage 2)",
                                        "Parameter3 Temperature (stage 3)",
                                        "Parameter3 Time(S) (stage 3)"};
    return names[step];
}

// The line failed or a byte could not go out: the oven does not hold the
// profile that the fields show.
void tellNotSent(Context &c, int valuesSent)
{
    c.services.messages.show(
            valuesSent == 0
                    ? QStringLiteral("The profile was not sent: the connection to the oven was lost "
                                     "before its first value went out.")
                    : QStringLiteral("The profile was not sent completely: %1 of its 6 values went out "
                                     "before the connection to the oven was lost. The oven may hold part "
                                     "of the new profile; send it again when the connection is back.")
                              .arg(valuesSent),
            MessageService::Kind::Warning);
}

} // namespace

std::optional<int> slotByte(int step, const QString &fieldText)
{
    double n = leadingNumber(fieldText);
    if (isOffsetSlot(step))
        n -= 100;
    const double rounded = std::nearbyint(n); // halves to the even neighbour
    if (!(rounded >= 0 && rounded <= 255))
        return std::nullopt;
    return int(rounded);
}

QString slotProblem(int step, const QString &fieldText)
{
    if (slotByte(step, fieldText))
        return {};
    const QString range = isOffsetSlot(step) ? QStringLiteral("100 to 355") : QStringLiteral("0 to 255");
    return QStringLiteral("%1 is \"%2\": it must lie between %3 to be sent to the oven.")
            .arg(QString::fromLatin1(slotName(step)), fieldText, range);
}

namespace {

// Every field is looked at before the first byte goes out: a profile the
// oven cannot take is not begun.
bool fieldsSendable(Context &c)
{
    for (int step = 1; step <= 6; ++step) {
        const QString problem = slotProblem(step, c.services.form.text(fieldNumber(step)));
        if (!problem.isEmpty()) {
            c.services.messages.show(problem + QStringLiteral("\nNothing was sent."),
                                     MessageService::Kind::Warning);
            return false;
        }
    }
    return true;
}

// Sends the value of step k the controller asked for; false when the
// transfer ends there (the operator was told why).
bool sendStep(Context &c, int k)
{
    const QString text = c.services.form.text(fieldNumber(k));
    const std::optional<int> b = slotByte(k, text);
    if (!b) {
        // Edited out of range while the transfer ran: stop at this step.
        c.services.messages.show(slotProblem(k, text)
                                         + QStringLiteral("\nThe transfer stopped before step %1.").arg(k),
                                 MessageService::Kind::Warning);
        return false;
    }
    if (!sendByte(c, std::uint8_t(*b))) {
        tellNotSent(c, k - 1);
        return false;
    }
    return true;
}

} // namespace

void to8031_Click(Context &c)
{
    if (!fieldsSendable(c))
        return;
    if (!ensurePortOpen(c))
        return;
    c.services.Timer1.setEnabled(false);
    SharedState &s = c.state;
    s.loopIndex = 0;
    // From the command byte until "ok!" a profile is on its way; after it the
    // transfer only listens for the controller asking again.
    bool sending = true;
    int valuesSent = 0;
    const unsigned long long faults = c.lineFaults;
    if (!sendByte(c, cmdWriteProfile)) {
        tellNotSent(c, 0);
        return;
    }
    while (s.loopIndex.leadingNumber() < 6) {
        pumpEvents(c);
        if (c.abandoning())
            return;
        if (c.lineFaults != faults) {
            // The line failed under the transfer (the fault was told).
            if (sending)
                tellNotSent(c, valuesSent);
            return;
        }
        // A port the operator closed (Stop Communicate) is no lost line: the
        // transfer keeps listening, asleep, and answers the controller again
        // once another command has opened the port.
        if (!pollByte(c))
            continue;
        s.loopIndex = s.loopIndex.leadingNumber() + 1;
        const double step = s.loopIndex.number();
        if (step >= 1 && step <= 6) {
            const int k = int(step);
            sending = true;
            if (!sendStep(c, k))
                return;
            valuesSent = k;
            if (k == 6) {
                c.services.messages.show(QStringLiteral("ok!"));
                s.loopIndex = 0;
                sending = false;
                valuesSent = 0;
            }
        }
    }
}
