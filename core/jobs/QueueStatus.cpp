#include "core/jobs/QueueStatus.h"

#include <algorithm>
#include <array>

namespace {

bool hasReason(const QStringList& reasons, QLatin1StringView keyword)
{
    return reasons.contains(keyword);
}

// The printer's own words as a detail of a sentence, where it said anything.
QString detail(const QString& message)
{
    const QString text = message.trimmed();
    return text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text);
}

// A printer-state-reasons keyword without its severity ("media-empty-error" → "media-empty"),
// and whether that severity is only a report.
QString baseReason(const QString& keyword, bool& report)
{
    report = false;
    for (const QLatin1StringView suffix :
         {QLatin1StringView("-error"), QLatin1StringView("-warning"),
          QLatin1StringView("-report")}) {
        if (keyword.endsWith(suffix)) {
            report = suffix == QLatin1StringView("-report");
            return keyword.chopped(suffix.size());
        }
    }
    return keyword;
}

struct KnownReason
{
    const char* keyword;
    const char16_t* sentence; // %1: the printer
    const char16_t* word;
};

// The problems a printer reports that a clerk can do something about (or should know of).
constexpr std::array kKnownReasons = {
    KnownReason{"offline", u"Tiskárna %1 je vypnutá nebo odpojená.", u"odpojena"},
    KnownReason{"connecting-to-device", u"Tiskový server se nemůže spojit s tiskárnou %1.",
                u"nedostupná"},
    KnownReason{"media-empty", u"V tiskárně %1 došel papír.", u"došel papír"},
    KnownReason{"media-needed", u"Do tiskárny %1 je třeba doplnit papír.", u"chybí papír"},
    KnownReason{"media-jam", u"V tiskárně %1 uvízl papír.", u"uvízl papír"},
    KnownReason{"media-low", u"V tiskárně %1 dochází papír.", u"dochází papír"},
    KnownReason{"toner-empty", u"V tiskárně %1 došel toner.", u"došel toner"},
    KnownReason{"toner-low", u"V tiskárně %1 dochází toner.", u"dochází toner"},
    KnownReason{"marker-supply-empty", u"V tiskárně %1 došla barva.", u"došla barva"},
    KnownReason{"marker-supply-low", u"V tiskárně %1 dochází barva.", u"dochází barva"},
    KnownReason{"door-open", u"Tiskárna %1 má otevřená dvířka.", u"otevřená dvířka"},
    KnownReason{"cover-open", u"Tiskárna %1 má otevřený kryt.", u"otevřený kryt"},
    KnownReason{"input-tray-missing", u"V tiskárně %1 chybí zásobník papíru.", u"chybí zásobník"},
    KnownReason{"output-area-full", u"Výstupní zásobník tiskárny %1 je plný.", u"plný zásobník"},
    KnownReason{"spool-area-full", u"Tiskový server nemá místo pro další úlohy.", u"plný server"},
    KnownReason{"cups-missing-filter", u"Tiskový server nemá pro tiskárnu %1 potřebný filtr.",
                u"chybí filtr"},
};

struct Problem
{
    QString sentence;
    QString word;
};

QList<Problem> problemsOf(const QString& queue, const PrinterStatus& status)
{
    QList<Problem> problems;
    if (!status.answered)
        return {{QStringLiteral("Tiskový server neodpovídá."), QStringLiteral("neodpovídá")}};
    if (!status.found)
        return {{QStringLiteral("Tiskárna %1 není nainstalována.").arg(queue),
                 QStringLiteral("není nainstalována")}};
    if (status.state == PrinterStatus::State::Stopped) {
        // An administrator's pause says "Paused" ("Rejecting Jobs" once the queue is also
        // closed), or why, in their words; a printer stopped by its failing connection says what
        // failed.
        const QString message = status.message.trimmed();
        if (message.isEmpty() || message == QLatin1StringView("Paused") ||
            message == QLatin1StringView("Rejecting Jobs"))
            problems << Problem{QStringLiteral("Tiskárna %1 je pozastavena.").arg(queue),
                                QStringLiteral("pozastavena")};
        else
            problems << Problem{
                QStringLiteral("Tiskárna %1 je zastavena%2.").arg(queue, detail(message)),
                QStringLiteral("zastavena")};
    }
    // A printer its connection cannot reach, in the words of the print server's backends.
    static const QStringList unreachable = {
        QStringLiteral("The printer may not exist or is unavailable at this time."),
        QStringLiteral("The printer is not responding."),
        QStringLiteral("Waiting for printer to become available.")};
    if (status.state != PrinterStatus::State::Stopped &&
        unreachable.contains(status.message.trimmed()))
        problems << Problem{
            QStringLiteral("Tiskárna %1 je nedostupná (vypnutá nebo odpojená).").arg(queue),
            QStringLiteral("nedostupná")};
    if (!status.accepting)
        problems << Problem{QStringLiteral("Tiskárna %1 nepřijímá úlohy.").arg(queue),
                            QStringLiteral("nepřijímá úlohy")};
    for (const QString& keyword : status.reasons) {
        bool report = false;
        const QString base = baseReason(keyword, report);
        // Reports are for information, except the one that says the printer cannot be reached.
        if (report && base != QLatin1StringView("offline"))
            continue;
        const auto known =
            std::find_if(kKnownReasons.begin(), kKnownReasons.end(), [&base](const KnownReason& r) {
                return base == QLatin1StringView(r.keyword);
            });
        if (known != kKnownReasons.end()) {
            problems << Problem{QString::fromUtf16(known->sentence).arg(queue),
                                QString::fromUtf16(known->word)};
        } else if (keyword.endsWith(QLatin1StringView("-error"))) {
            // Anything else the printer calls an error, in its own words.
            problems << Problem{QStringLiteral("Tiskárna %1 hlásí chybu (%2).").arg(queue, base),
                                QStringLiteral("chyba")};
        }
    }
    return problems;
}

} // namespace

bool jobEnded(const JobStatus& status)
{
    switch (status.state) {
    case JobStatus::State::Pending:
    case JobStatus::State::Processing:
    case JobStatus::State::Stopped:
        return false;
    case JobStatus::State::Held:
    case JobStatus::State::Canceled:
    case JobStatus::State::Aborted:
    case JobStatus::State::Completed:
    case JobStatus::State::Gone:
    case JobStatus::State::Forgotten:
        break;
    }
    return true;
}

bool jobFailed(const JobStatus& status)
{
    // A job the server forgot as it ended (it keeps no history) cannot be told as not printed:
    // the clerk would print the report twice.
    if (status.state == JobStatus::State::Forgotten)
        return false;
    if (status.state == JobStatus::State::Completed)
        return hasReason(status.reasons, QLatin1StringView("job-completed-with-errors"));
    return jobEnded(status);
}

QString jobFailureReason(const JobStatus& status)
{
    const QStringList& r = status.reasons;
    switch (status.state) {
    case JobStatus::State::Aborted:
        if (hasReason(r, QLatin1StringView("document-format-error")) ||
            hasReason(r, QLatin1StringView("document-unprintable-error")))
            return QStringLiteral("tiskárna dokument nedokázala zpracovat") +
                   detail(status.printerMessage);
        return QStringLiteral("tiskový server úlohu přerušil") + detail(status.printerMessage);
    case JobStatus::State::Canceled:
        if (hasReason(r, QLatin1StringView("job-canceled-by-operator")))
            return QStringLiteral("úlohu zrušil správce tiskárny");
        if (hasReason(r, QLatin1StringView("job-canceled-at-device")))
            return QStringLiteral("úloha byla zrušena na tiskárně") + detail(status.printerMessage);
        return QStringLiteral("úloha byla zrušena");
    case JobStatus::State::Held:
        if (hasReason(r, QLatin1StringView("job-held-for-authentication")) ||
            hasReason(r, QLatin1StringView("cups-held-for-authentication")))
            return QStringLiteral("úloha čeká na přihlášení k tiskovému serveru");
        return QStringLiteral("úloha byla na tiskovém serveru pozdržena");
    case JobStatus::State::Completed:
        return QStringLiteral("tisk skončil s chybou") + detail(status.printerMessage);
    case JobStatus::State::Gone:
        return QStringLiteral("tiskový server úlohu nezná");
    case JobStatus::State::Pending:
    case JobStatus::State::Processing:
    case JobStatus::State::Stopped:
    case JobStatus::State::Forgotten:
        break;
    }
    return {};
}

QString jobFailureText(const SubmittedJob& job, const QString& reason)
{
    return QStringLiteral("Sestava %1 „%2“ nebyla na tiskárně %3 vytištěna: %4.")
        .arg(job.fileName, job.title.trimmed(), job.queue, reason);
}

QString jobStateText(const JobStatus& status)
{
    switch (status.state) {
    case JobStatus::State::Pending:
        return QStringLiteral("čeká ve frontě");
    case JobStatus::State::Held:
        return QStringLiteral("pozdržena");
    case JobStatus::State::Processing:
        return QStringLiteral("tiskne se");
    case JobStatus::State::Stopped:
        return QStringLiteral("čeká, tiskárna je zastavena");
    case JobStatus::State::Canceled:
        return QStringLiteral("zrušena");
    case JobStatus::State::Aborted:
        return QStringLiteral("přerušena");
    case JobStatus::State::Completed:
        return QStringLiteral("vytištěna");
    case JobStatus::State::Forgotten:
        return QStringLiteral("skončila (tiskový server si ukončené úlohy nepamatuje, zda se "
                              "vytiskla, nelze zjistit)");
    case JobStatus::State::Gone:
        break;
    }
    return QStringLiteral("tiskový server ji nezná");
}

QStringList printerProblems(const QString& queue, const PrinterStatus& status)
{
    QStringList sentences;
    for (const Problem& p : problemsOf(queue, status))
        sentences << p.sentence;
    return sentences;
}

QString printerProblemWord(const PrinterStatus& status)
{
    const QList<Problem> problems = problemsOf(QString(), status);
    return problems.isEmpty() ? QString() : problems.first().word;
}

QString waitingReportsText(const QString& queue, int count)
{
    if (count <= 0)
        return {};
    if (count == 1)
        return QStringLiteral("Na tiskárně %1 čeká 1 sestava.").arg(queue);
    if (count <= 4)
        return QStringLiteral("Na tiskárně %1 čekají %2 sestavy.").arg(queue).arg(count);
    return QStringLiteral("Na tiskárně %1 čeká %2 sestav.").arg(queue).arg(count);
}
