#include "print/CupsClient.h"

#include "core/platform/FileName.h"
#include "core/platform/PrinterCatalog.h"
#include "core/platform/TimeScale.h"

#include <QFile>

#include <cups/cups.h>
#include <cups/pwg.h>

#include <QDeadlineTimer>
#include <QList>
#include <QSizeF>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace cupsclient {

namespace {

constexpr int kConnectMs = 3000;
// A wait for the scheduler is looked at every second: a stop ends it, and so do 30 seconds in
// all without an answer for a document upload (which waits for every block it sends), 5 for a
// question.
constexpr double kWaitStepSeconds = 1.0;
constexpr int kUploadWaitSteps = 30;
constexpr int kQuestionWaitSteps = 5;
// A print job's request waits this long for a scheduler that cannot be reached or that drops
// the connection (it is restarting: an upgrade, an administrator), trying again twice a second.
constexpr int kRestartWaitMs = 15000;
constexpr int kReconnectPauseMs = 500;

struct HttpClose
{
    void operator()(http_t* http) const { httpClose(http); }
};
struct IppDelete
{
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDelete>;

bool stopped(const std::atomic<bool>* stop)
{
    return stop && stop->load();
}

// One connection to the scheduler with its waiting rule.
struct Connection
{
    std::unique_ptr<http_t, HttpClose> http;
    const std::atomic<bool>* stop = nullptr;
    int waited = 0;
    int patience = kQuestionWaitSteps;
    // The scheduler let a wait run out (it hangs).
    bool timedOut = false;
    // A request ended without an answer and without running out of time: the scheduler went
    // away meanwhile (it is restarting, say), so the connection is of no further use.
    bool dropped = false;

    explicit operator bool() const { return bool(http); }
    http_t* get() const { return http.get(); }
};

int keepWaiting(http_t*, void* data)
{
    auto* c = static_cast<Connection*>(data);
    if (stopped(c->stop))
        return 0;
    if (++c->waited >= c->patience) {
        c->timedOut = true;
        return 0;
    }
    return 1;
}

// How long a request may go on trying a scheduler that is away: a print job's requests (they
// carry the job's stop flag) wait for one that restarts; the windows' questions do not.
class RestartWait
{
public:
    explicit RestartWait(const std::atomic<bool>* stop) : m_stop(stop)
    {
        m_deadline.setRemainingTime(stop ? scaledWaitMs(kRestartWaitMs) : 0);
    }
    // Pauses before the next attempt; false when no attempt is left (or the job was stopped).
    bool pause() const
    {
        const QDeadlineTimer next(kReconnectPauseMs);
        while (!stopped(m_stop) && !m_deadline.hasExpired() && !next.hasExpired())
            QThread::msleep(kStopCheckMs);
        return !stopped(m_stop) && !m_deadline.hasExpired();
    }

private:
    static constexpr int kStopCheckMs = 100;
    const std::atomic<bool>* m_stop;
    QDeadlineTimer m_deadline;
};

// The connection is set up in place: the waiting rule refers to it. A scheduler that cannot be
// reached is tried again as long as `restart` allows.
void connectToScheduler(Connection& c, const std::atomic<bool>* stop = nullptr,
                        int patience = kQuestionWaitSteps, const RestartWait* restart = nullptr)
{
    c.stop = stop;
    c.patience = patience;
    c.waited = 0;
    c.timedOut = false;
    c.dropped = false;
    for (;;) {
        c.http.reset(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                  kConnectMs, nullptr));
        if (c.http || !restart || !restart->pause())
            break;
    }
    if (c.http)
        httpSetTimeout(c.http.get(), kWaitStepSeconds, keepWaiting, &c);
}

// Sends `request` (consumed) and returns the scheduler's answer, or nothing.
Ipp send(Connection& c, ipp_t* request, const char* resource)
{
    Ipp response(cupsDoRequest(c.get(), request, resource));
    // An HTTP refusal is an answer; a connection that failed without one running out of time
    // was closed by the scheduler.
    const http_status_t status = httpGetStatus(c.get());
    c.dropped = !response && !c.timedOut && !stopped(c.stop) &&
                (status == HTTP_STATUS_ERROR || status == HTTP_STATUS_SERVICE_UNAVAILABLE);
    return response;
}

QByteArray uri(const char* resource)
{
    char buffer[HTTP_MAX_URI];
    httpAssembleURI(HTTP_URI_CODING_ALL, buffer, sizeof buffer, "ipp", nullptr, "localhost",
                    ippPort(), resource);
    return QByteArray(buffer);
}

QByteArray printerResource(const QString& queue)
{
    return "/printers/" + queue.toUtf8();
}

void addUser(ipp_t* request)
{
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
}

// The attributes the answer is to hold.
void addWanted(ipp_t* request, const std::vector<const char*>& wanted)
{
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(wanted.size()), nullptr, wanted.data());
}

// A Get-Job-Attributes request for the job `jobId`, by this user.
ipp_t* jobQuestion(int jobId, const std::vector<const char*>& wanted)
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const QByteArray job = "/jobs/" + QByteArray::number(jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                 uri(job.constData()).constData());
    addUser(request);
    addWanted(request, wanted);
    return request;
}

// A Get-Jobs request for this user's jobs on the queue at `resource` ("/" for every queue):
// "all", "completed" (ended) or "not-completed" ones.
ipp_t* myJobsQuestion(const QByteArray& resource, const char* whichJobs,
                      const std::vector<const char*>& wanted)
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 uri(resource.constData()).constData());
    addUser(request);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, whichJobs);
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
    addWanted(request, wanted);
    return request;
}

bool succeeded(ipp_t* response)
{
    return response && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
}

// What the scheduler's answer to a question says: Yes, No when it does not know what was asked
// about, NoAnswer when it did not answer or failed.
Answer answerOf(ipp_t* response)
{
    if (!response)
        return Answer::NoAnswer;
    if (succeeded(response))
        return Answer::Yes;
    return ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND ? Answer::No : Answer::NoAnswer;
}

// The same for a question about jobs: nothing when it succeeded, no job when the scheduler does
// not know it.
std::optional<JobFate> failedQuery(ipp_t* response)
{
    switch (answerOf(response)) {
    case Answer::Yes:
        return std::nullopt;
    case Answer::No:
        return JobFate::Gone;
    case Answer::NoAnswer:
        break;
    }
    return JobFate::NoAnswer;
}

// Runs `attempt` on a connection of its own, and again on a new one (for a print job, whose
// requests carry its stop flag) while the scheduler cannot be reached or drops the connection
// without an answer, as one that restarts does; a scheduler that hangs is not asked again.
template <typename Result>
Result onFreshConnections(const std::atomic<bool>* stop, Result noAnswer,
                          const std::function<Result(Connection&)>& attempt)
{
    const RestartWait restart(stop);
    for (;;) {
        Connection http;
        connectToScheduler(http, stop, kQuestionWaitSteps, &restart);
        if (!http)
            return noAnswer;
        const Result result = attempt(http);
        if (result != noAnswer || !http.dropped || !restart.pause())
            return result;
    }
}

// Asks the scheduler the question that `request` makes (made anew for each attempt); the
// response is kept for a Yes.
Answer ask(const std::function<ipp_t*()>& request, const char* resource,
           const std::atomic<bool>* stop, Ipp& response)
{
    return onFreshConnections<Answer>(stop, Answer::NoAnswer, [&](Connection& http) {
        response = send(http, request(), resource);
        return answerOf(response.get());
    });
}

// A Get-Printer-Attributes request for the queue at `resource`, asking for `wanted`.
std::function<ipp_t*()> printerQuestion(const QByteArray& resource, std::vector<const char*> wanted)
{
    return [resource, wanted = std::move(wanted)] {
        ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     uri(resource.constData()).constData());
        addUser(request);
        addWanted(request, wanted);
        return request;
    };
}

JobStatus::State jobStateOf(int state)
{
    switch (state) {
    case IPP_JSTATE_PENDING:
        return JobStatus::State::Pending;
    case IPP_JSTATE_HELD:
        return JobStatus::State::Held;
    case IPP_JSTATE_PROCESSING:
        return JobStatus::State::Processing;
    case IPP_JSTATE_STOPPED:
        return JobStatus::State::Stopped;
    case IPP_JSTATE_CANCELED:
        return JobStatus::State::Canceled;
    case IPP_JSTATE_ABORTED:
        return JobStatus::State::Aborted;
    case IPP_JSTATE_COMPLETED:
        return JobStatus::State::Completed;
    default:
        break;
    }
    return JobStatus::State::Gone;
}

JobFate fateOf(int state)
{
    return state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED ? JobFate::Gone
                                                                       : JobFate::Kept;
}

} // namespace

QString refusalText(int status, const QString& queue)
{
    switch (status) {
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
        return QStringLiteral("Tiskárna %1 nepřijímá úlohy.").arg(queue);
    case IPP_STATUS_ERROR_NOT_FOUND:
        return QStringLiteral("Tiskárna %1 není nainstalována.").arg(queue);
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
        return QStringLiteral("Tisk na tiskárnu %1 není dovolen.").arg(queue);
    case IPP_STATUS_ERROR_REQUEST_ENTITY:
        return QStringLiteral("Dokument je pro tiskový server příliš velký.");
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
    case IPP_STATUS_ERROR_INTERNAL:
        return PrinterCatalog::noAnswerText();
    default:
        break;
    }
    // Anything rarer keeps the server's own words as a detail.
    const QString detail = QString::fromUtf8(cupsLastErrorString());
    return detail.isEmpty() ? PrinterCatalog::noAnswerText()
                            : QStringLiteral("Tiskový server tisk odmítl (%1).").arg(detail);
}

int printFile(const QString& queue, const QString& file, const QString& title,
              const JobLayout& layout, QString& error, const std::atomic<bool>* stop)
{
    // Only a scheduler that cannot be reached is waited for: once the document is on its way,
    // a broken connection may still have left a job, and the print journal decides about it.
    Connection http;
    const RestartWait restart(stop);
    connectToScheduler(http, stop, kUploadWaitSteps, &restart);
    if (!http) {
        error = PrinterCatalog::noAnswerText();
        return 0;
    }
    const QByteArray resource = printerResource(queue);
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 uri(resource.constData()).constData());
    addUser(request);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                 title.toUtf8().constData());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 "application/pdf");
    // The layout is the program's: the paper it laid out on, upright or turned a quarter to the
    // left as the document's pages are, one page a sheet, no scaling, every page, not mirrored.
    if (layout.paper.isValid()) {
        const QSizeF mm = layout.paper.size(QPageSize::Millimeter);
        if (pwg_media_t* media = pwgMediaForSize(int(std::lround(mm.width() * 100)),
                                                 int(std::lround(mm.height() * 100))))
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, media->pwg);
    }
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested",
                  layout.landscape ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT);
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "number-up", 1);
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-scaling", nullptr, "none");
    ippAddBoolean(request, IPP_TAG_JOB, "fit-to-page", 0);
    // Every page, as drawn: a queue set to print only odd or even pages would leave a one-page
    // report unprinted while the job counts as done.
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "page-set", nullptr, "all");
    ippAddBoolean(request, IPP_TAG_JOB, "mirror", 0);
    // cupsDoFileRequest frees the request.
    const Ipp response(cupsDoFileRequest(http.get(), request, resource.constData(),
                                         platform::encodeFileName(file).constData()));
    ipp_attribute_t* id = succeeded(response.get())
                              ? ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER)
                              : nullptr;
    if (!id) {
        error = refusalText(response ? ippGetStatusCode(response.get()) : cupsLastError(), queue);
        return 0;
    }
    return ippGetInteger(id, 0);
}

namespace {

// A job's state, name and creation time (seconds since the epoch), asked of the scheduler by the
// job's id: the scheduler reads a finished job back from its history for this, which it does not
// do for a list of jobs.
struct JobInfo
{
    int state = 0;
    QByteArray name;
    qint64 created = 0;
};

std::optional<JobFate> jobInfo(Connection& http, int jobId, JobInfo& info)
{
    const Ipp response =
        send(http, jobQuestion(jobId, {"job-state", "job-name", "time-at-creation"}), "/");
    if (const std::optional<JobFate> fate = failedQuery(response.get()))
        return fate;
    if (ipp_attribute_t* a = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM))
        info.state = ippGetInteger(a, 0);
    if (ipp_attribute_t* a = ippFindAttribute(response.get(), "job-name", IPP_TAG_NAME))
        info.name = ippGetString(a, 0, nullptr);
    if (ipp_attribute_t* a = ippFindAttribute(response.get(), "time-at-creation", IPP_TAG_INTEGER))
        info.created = ippGetInteger(a, 0);
    return std::nullopt;
}

// The newest job of this user on `queue` named `title` created at or after `since`.
JobFate findJobOn(Connection& http, const QString& queue, const QString& title, qint64 since,
                  int& jobId)
{
    // The ids of this user's jobs on the queue, finished ones included.
    const Ipp response = send(http, myJobsQuestion(printerResource(queue), "all", {"job-id"}), "/");
    if (const std::optional<JobFate> fate = failedQuery(response.get()))
        return *fate;
    QList<int> ids;
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a;
         a = ippNextAttribute(response.get())) {
        if (const char* name = ippGetName(a); name && QByteArrayView(name) == "job-id")
            ids << ippGetInteger(a, 0);
    }
    // Newest first: ids grow with creation, so the search ends at the first job created before
    // the report was handed over.
    std::sort(ids.begin(), ids.end(), std::greater<>());
    const QByteArray name = title.toUtf8();
    for (const int id : std::as_const(ids)) {
        JobInfo info;
        if (const std::optional<JobFate> fate = jobInfo(http, id, info)) {
            if (*fate == JobFate::NoAnswer)
                return *fate;
            continue; // gone meanwhile
        }
        if (info.created < since)
            break;
        if (info.name == name) {
            jobId = id;
            return fateOf(info.state);
        }
    }
    return JobFate::Gone;
}

} // namespace

JobFate jobFate(int jobId, const std::atomic<bool>* stop)
{
    return onFreshConnections<JobFate>(stop, JobFate::NoAnswer, [jobId](Connection& http) {
        JobInfo info;
        if (const std::optional<JobFate> fate = jobInfo(http, jobId, info))
            return *fate;
        return info.state ? fateOf(info.state) : JobFate::Gone;
    });
}

JobFate findJob(const QString& queue, const QString& title, qint64 since, int& jobId,
                const std::atomic<bool>* stop)
{
    jobId = 0;
    return onFreshConnections<JobFate>(stop, JobFate::NoAnswer, [&](Connection& http) {
        return findJobOn(http, queue, title, since, jobId);
    });
}

namespace {

// The keywords of an attribute, without "none".
QStringList keywordsOf(ipp_attribute_t* a)
{
    QStringList list;
    for (int i = 0; a && i < ippGetCount(a); ++i)
        if (const char* k = ippGetString(a, i, nullptr); k && QByteArrayView(k) != "none")
            list << QString::fromUtf8(k);
    return list;
}

QStringList keywords(ipp_t* response, const char* name)
{
    return keywordsOf(ippFindAttribute(response, name, IPP_TAG_KEYWORD));
}

QString text(ipp_t* response, const char* name)
{
    ipp_attribute_t* a = ippFindAttribute(response, name, IPP_TAG_ZERO);
    const char* value = a ? ippGetString(a, 0, nullptr) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

// Yes when the server still holds one of this user's ended jobs; No when it holds none.
Answer endedJobsKept()
{
    const auto request = [] {
        ipp_t* request = myJobsQuestion("/", "completed", {"job-id"});
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit", 1);
        return request;
    };
    Ipp response;
    const Answer answer = ask(request, "/", nullptr, response);
    if (answer != Answer::Yes)
        return answer;
    return ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER) ? Answer::Yes : Answer::No;
}

} // namespace

Answer jobStatus(int jobId, JobStatus& status)
{
    status = JobStatus();
    const auto request = [jobId] {
        return jobQuestion(jobId, {"job-state", "job-state-reasons", "job-printer-state-message"});
    };
    Ipp response;
    const Answer answer = ask(request, "/", nullptr, response);
    if (answer == Answer::No) {
        // A server that keeps no history of ended jobs forgets each one as it ends: then none
        // of this user's ended jobs is left, and how this one ended cannot be known.
        const Answer kept = endedJobsKept();
        if (kept == Answer::NoAnswer)
            return kept;
        status.state = kept == Answer::No ? JobStatus::State::Forgotten : JobStatus::State::Gone;
    }
    if (answer != Answer::Yes)
        return answer;
    ipp_attribute_t* state = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
    status.state = jobStateOf(state ? ippGetInteger(state, 0) : 0);
    status.reasons = keywords(response.get(), "job-state-reasons");
    status.printerMessage = text(response.get(), "job-printer-state-message");
    return Answer::Yes;
}

Answer activeJobs(QHash<int, JobStatus>& jobs)
{
    jobs.clear();
    const auto request = [] {
        return myJobsQuestion(
            "/", "not-completed",
            {"job-id", "job-state", "job-state-reasons", "job-printer-state-message"});
    };
    Ipp response;
    const Answer answer = ask(request, "/", nullptr, response);
    if (answer != Answer::Yes)
        return answer == Answer::No ? Answer::Yes : answer; // no jobs at all
    // One group of attributes a job, separated by a change of group.
    int id = 0;
    JobStatus status;
    const auto store = [&] {
        if (id > 0)
            jobs.insert(id, status);
        id = 0;
        status = JobStatus();
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a;
         a = ippNextAttribute(response.get())) {
        const char* name = ippGetName(a);
        if (!name || ippGetGroupTag(a) != IPP_TAG_JOB) {
            store();
            continue;
        }
        const QByteArrayView attribute(name);
        if (attribute == "job-id") {
            id = ippGetInteger(a, 0);
        } else if (attribute == "job-state") {
            status.state = jobStateOf(ippGetInteger(a, 0));
        } else if (attribute == "job-state-reasons") {
            status.reasons = keywordsOf(a);
        } else if (attribute == "job-printer-state-message") {
            status.printerMessage = QString::fromUtf8(ippGetString(a, 0, nullptr));
        }
    }
    store();
    return Answer::Yes;
}

Answer printerStatus(const QString& queue, PrinterStatus& status)
{
    status = PrinterStatus();
    const QByteArray resource = printerResource(queue);
    Ipp response;
    const Answer answer =
        ask(printerQuestion(resource, {"printer-state", "printer-state-reasons",
                                       "printer-state-message", "printer-is-accepting-jobs"}),
            resource.constData(), nullptr, response);
    status.answered = answer != Answer::NoAnswer;
    status.found = answer != Answer::No;
    if (answer != Answer::Yes)
        return answer;
    ipp_attribute_t* state = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM);
    const int value = state ? ippGetInteger(state, 0) : IPP_PSTATE_IDLE;
    status.state = value == IPP_PSTATE_STOPPED      ? PrinterStatus::State::Stopped
                   : value == IPP_PSTATE_PROCESSING ? PrinterStatus::State::Processing
                                                    : PrinterStatus::State::Idle;
    ipp_attribute_t* accepting =
        ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    status.accepting = !accepting || ippGetBoolean(accepting, 0);
    status.reasons = keywords(response.get(), "printer-state-reasons");
    status.message = text(response.get(), "printer-state-message");
    return Answer::Yes;
}

namespace {

// A paper of media-col: its size and its margins, all in hundredths of a millimetre.
struct MediaCol
{
    int x = 0;
    int y = 0;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

MediaCol mediaCol(ipp_t* col)
{
    MediaCol m;
    auto integer = [](ipp_t* in, const char* name) {
        ipp_attribute_t* a = ippFindAttribute(in, name, IPP_TAG_INTEGER);
        return a ? ippGetInteger(a, 0) : 0;
    };
    if (ipp_attribute_t* size = ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION)) {
        ipp_t* sizeCol = ippGetCollection(size, 0);
        m.x = integer(sizeCol, "x-dimension");
        m.y = integer(sizeCol, "y-dimension");
    }
    m.left = integer(col, "media-left-margin");
    m.top = integer(col, "media-top-margin");
    m.right = integer(col, "media-right-margin");
    m.bottom = integer(col, "media-bottom-margin");
    return m;
}

bool sameSize(const MediaCol& m, const QSizeF& mm)
{
    return std::abs(m.x - mm.width() * 100) <= 100 && std::abs(m.y - mm.height() * 100) <= 100;
}

} // namespace

Answer queueSetup(const QString& queue, const QPageSize& paper, QueueSetup& setup,
                  const std::atomic<bool>* stop)
{
    const QByteArray resource = printerResource(queue);
    Ipp response;
    if (const Answer a =
            ask(printerQuestion(resource, {"printer-name", "media-col-default",
                                           "media-col-database", "printer-resolution-default"}),
                resource.constData(), stop, response);
        a != Answer::Yes)
        return a;
    ipp_attribute_t* name = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME);
    setup.name = name ? QString::fromUtf8(ippGetString(name, 0, nullptr)) : queue;

    // The paper asked for, with its margins from the queue's list of papers (the bordered form
    // before a borderless one); else the queue's default paper.
    std::optional<MediaCol> media;
    if (paper.isValid()) {
        const QSizeF mm = paper.size(QPageSize::Millimeter);
        if (ipp_attribute_t* db =
                ippFindAttribute(response.get(), "media-col-database", IPP_TAG_BEGIN_COLLECTION)) {
            for (int i = 0; i < ippGetCount(db); ++i) {
                const MediaCol m = mediaCol(ippGetCollection(db, i));
                if (!sameSize(m, mm))
                    continue;
                if (!media || (media->left + media->top + media->right + media->bottom == 0))
                    media = m;
            }
        }
        setup.paper = paper;
    }
    if (ipp_attribute_t* def =
            ippFindAttribute(response.get(), "media-col-default", IPP_TAG_BEGIN_COLLECTION)) {
        const MediaCol m = mediaCol(ippGetCollection(def, 0));
        if (!paper.isValid() && m.x > 0 && m.y > 0) {
            setup.paper = QPageSize(QSizeF(m.x / 100.0, m.y / 100.0), QPageSize::Millimeter,
                                    QString(), QPageSize::FuzzyMatch);
            media = m;
        }
    }
    if (!setup.paper.isValid())
        setup.paper = QPageSize(QPageSize::A4);
    if (media)
        setup.marginsMm = QMarginsF(media->left / 100.0, media->top / 100.0, media->right / 100.0,
                                    media->bottom / 100.0);

    setup.dpi = 600;
    if (ipp_attribute_t* res =
            ippFindAttribute(response.get(), "printer-resolution-default", IPP_TAG_RESOLUTION)) {
        int yres = 0;
        ipp_res_t units = IPP_RES_PER_INCH;
        const int xres = ippGetResolution(res, 0, &yres, &units);
        const int dpi = units == IPP_RES_PER_CM ? int(std::lround(xres * 2.54)) : xres;
        if (dpi >= 72 && dpi <= 4800)
            setup.dpi = dpi;
    }
    return Answer::Yes;
}

namespace {

// Asks the scheduler an operation about its queues that answers with their names.
Answer askForQueueNames(ipp_op_t operation, const std::atomic<bool>* stop, Ipp& response)
{
    const auto request = [operation] {
        ipp_t* request = ippNewRequest(operation);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                     "printer-name");
        return request;
    };
    return ask(request, "/", stop, response);
}

} // namespace

Answer defaultQueue(QString& name, const std::atomic<bool>* stop)
{
    name.clear();
    Ipp response;
    if (const Answer a = askForQueueNames(IPP_OP_CUPS_GET_DEFAULT, stop, response);
        a != Answer::Yes)
        return a;
    ipp_attribute_t* a = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME);
    if (!a)
        return Answer::No;
    name = QString::fromUtf8(ippGetString(a, 0, nullptr));
    return Answer::Yes;
}

Answer queueNames(QStringList& names)
{
    names.clear();
    Ipp response;
    if (const Answer a = askForQueueNames(IPP_OP_CUPS_GET_PRINTERS, nullptr, response);
        a != Answer::Yes)
        return a;
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a;
         a = ippNextAttribute(response.get())) {
        if (const char* name = ippGetName(a); name && QByteArrayView(name) == "printer-name")
            names << QString::fromUtf8(ippGetString(a, 0, nullptr));
    }
    return names.isEmpty() ? Answer::No : Answer::Yes;
}

} // namespace cupsclient
