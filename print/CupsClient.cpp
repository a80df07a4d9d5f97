#include "print/CupsClient.h"

#include <QFile>

#include <cups/cups.h>

#include <QList>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace cupsclient {

namespace {

constexpr int kConnectMs = 3000;
// Seconds one wait for the scheduler may take: a document upload waits for every block it sends.
constexpr double kWaitSeconds = 30.0;

struct HttpClose
{
    void operator()(http_t* http) const { httpClose(http); }
};
struct IppDelete
{
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Http = std::unique_ptr<http_t, HttpClose>;
using Ipp = std::unique_ptr<ipp_t, IppDelete>;

int giveUp(http_t*, void*)
{
    return 0;
}

Http connectToScheduler()
{
    Http http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                           kConnectMs, nullptr));
    if (http)
        httpSetTimeout(http.get(), kWaitSeconds, giveUp, nullptr);
    return http;
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

bool succeeded(ipp_t* response)
{
    return response && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
}

// What a query about jobs that did not succeed says: nothing when the scheduler did not answer
// or failed, no job when it does not know what was asked about.
std::optional<JobFate> failedQuery(ipp_t* response)
{
    if (!response)
        return JobFate::NoAnswer;
    if (succeeded(response))
        return std::nullopt;
    return ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND ? JobFate::Gone
                                                                    : JobFate::NoAnswer;
}

JobFate fateOf(int state)
{
    return state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED ? JobFate::Gone
                                                                       : JobFate::Kept;
}

} // namespace

QString noAnswerText()
{
    return QStringLiteral("Tiskový server neodpovídá.");
}

bool schedulerAnswers()
{
    return bool(connectToScheduler());
}

int printFile(const QString& queue, const QString& file, const QString& title, QString& error)
{
    const Http http = connectToScheduler();
    if (!http) {
        error = noAnswerText();
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
    // cupsDoFileRequest frees the request.
    const Ipp response(cupsDoFileRequest(http.get(), request, resource.constData(),
                                         QFile::encodeName(file).constData()));
    ipp_attribute_t* id = succeeded(response.get())
                              ? ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER)
                              : nullptr;
    if (!id) {
        error = QString::fromUtf8(cupsLastErrorString());
        if (error.isEmpty())
            error = noAnswerText();
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

std::optional<JobFate> jobInfo(http_t* http, int jobId, JobInfo& info)
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const QByteArray job = "/jobs/" + QByteArray::number(jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                 uri(job.constData()).constData());
    addUser(request);
    static const char* const wanted[] = {"job-state", "job-name", "time-at-creation"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  wanted);
    const Ipp response(cupsDoRequest(http, request, "/"));
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

} // namespace

JobFate jobFate(int jobId)
{
    const Http http = connectToScheduler();
    if (!http)
        return JobFate::NoAnswer;
    JobInfo info;
    if (const std::optional<JobFate> fate = jobInfo(http.get(), jobId, info))
        return *fate;
    return info.state ? fateOf(info.state) : JobFate::Gone;
}

JobFate findJob(const QString& queue, const QString& title, qint64 since, int& jobId)
{
    jobId = 0;
    const Http http = connectToScheduler();
    if (!http)
        return JobFate::NoAnswer;
    // The ids of this user's jobs on the queue, finished ones included.
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 uri(printerResource(queue).constData()).constData());
    addUser(request);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "job-id");
    const Ipp response(cupsDoRequest(http.get(), request, "/"));
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
        if (const std::optional<JobFate> fate = jobInfo(http.get(), id, info)) {
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

} // namespace cupsclient
