#include "print/CupsClient.h"

#include <QFile>

#include <cups/cups.h>

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

JobFate jobFate(int jobId)
{
    const Http http = connectToScheduler();
    if (!http)
        return JobFate::NoAnswer;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const QByteArray job = "/jobs/" + QByteArray::number(jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                 uri(job.constData()).constData());
    addUser(request);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "job-state");
    const Ipp response(cupsDoRequest(http.get(), request, "/"));
    if (const std::optional<JobFate> fate = failedQuery(response.get()))
        return *fate;
    ipp_attribute_t* state = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
    return state ? fateOf(ippGetInteger(state, 0)) : JobFate::Gone;
}

JobFate findJob(const QString& queue, const QString& title, qint64 since, int& jobId)
{
    jobId = 0;
    const Http http = connectToScheduler();
    if (!http)
        return JobFate::NoAnswer;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 uri(printerResource(queue).constData()).constData());
    addUser(request);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
    static const char* const wanted[] = {"job-id", "job-name", "job-state", "time-at-creation"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                  wanted);
    const Ipp response(cupsDoRequest(http.get(), request, "/"));
    if (const std::optional<JobFate> fate = failedQuery(response.get()))
        return *fate;
    const QByteArray name = title.toUtf8();
    JobFate fate = JobFate::Gone;
    // One group of attributes per job, separated by attributes without a name.
    int id = 0;
    int state = 0;
    qint64 created = 0;
    bool named = false;
    auto endOfJob = [&] {
        if (id > jobId && named && created >= since) {
            jobId = id;
            fate = fateOf(state);
        }
        id = state = 0;
        created = 0;
        named = false;
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a;
         a = ippNextAttribute(response.get())) {
        const char* attr = ippGetName(a);
        if (!attr) {
            endOfJob();
            continue;
        }
        const QByteArrayView key(attr);
        if (key == "job-id")
            id = ippGetInteger(a, 0);
        else if (key == "job-state")
            state = ippGetInteger(a, 0);
        else if (key == "time-at-creation")
            created = ippGetInteger(a, 0);
        else if (key == "job-name")
            named = name == ippGetString(a, 0, nullptr);
    }
    endOfJob();
    return fate;
}

} // namespace cupsclient
