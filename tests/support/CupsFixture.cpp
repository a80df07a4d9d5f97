#include "CupsFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int startTimeoutMs = 10000;
constexpr int adminTimeoutMs = 10000;
constexpr int stopTimeoutMs = 5000;
constexpr qsizetype logTailBytes = 8192;

// cupsd and lpadmin live in sbin, which a user's PATH may lack.
QString findTool(const QString& name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty()) {
        found = QStandardPaths::findExecutable(
            name, {u"/usr/sbin"_s, u"/sbin"_s, u"/usr/bin"_s, u"/bin"_s});
    }
    return found;
}

QString tail(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    if (f.size() > logTailBytes) {
        f.seek(f.size() - logTailBytes);
    }
    return QString::fromUtf8(f.readAll());
}

// The error log's lines of level warning and above (E error, W warning, C/A/X worse).
QString problems(const QString& log)
{
    QStringList lines;
    for (const QString& line : log.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.size() > 2 && line.at(1) == u' ' && QStringView(u"XACEW").contains(line.at(0))) {
            lines.append(line);
        }
    }
    return lines.join(u'\n');
}

bool writeFile(const QString& file, const QString& text)
{
    QFile f(file);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0 &&
           f.flush();
}

bool socketAnswers(const QByteArray& socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

bool setMode(const QString& file, mode_t mode)
{
    return ::chmod(QFile::encodeName(file).constData(), mode) == 0;
}

bool validQueueName(const QString& name)
{
    static const QRegularExpression pattern(u"^[A-Za-z0-9_][A-Za-z0-9._-]{0,126}$"_s);
    return pattern.match(name).hasMatch();
}

} // namespace

CupsFixture::CupsFixture() = default;

CupsFixture::~CupsFixture()
{
    stop();
}

bool CupsFixture::start(const QStringList& queues, const QString& defaultQueue)
{
    stop();
    m_process.reset();
    m_dir.reset();
    m_queues.clear();
    m_returned.clear();
    m_reason.clear();

    if (queues.isEmpty()) {
        return fail(u"no queue requested"_s);
    }
    for (const QString& queue : queues) {
        if (!validQueueName(queue) || queues.count(queue) != 1) {
            return fail(u"queue name \"%1\" is not usable (letters, digits, '.', "
                        u"'_', '-'; each name once)"_s.arg(queue));
        }
    }
    if (!defaultQueue.isEmpty() && !queues.contains(defaultQueue)) {
        return fail(u"default queue \"%1\" is not among the queues"_s.arg(defaultQueue));
    }
    const QString cupsd = findTool(u"cupsd"_s);
    if (cupsd.isEmpty() || findTool(u"lpadmin"_s).isEmpty()) {
        return fail(u"cupsd or lpadmin not found (packages cups-daemon, cups-client)"_s);
    }

    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/tarnyx-cups-XXXXXX"_s);
    if (!m_dir->isValid()) {
        return fail(u"cannot create a temporary directory: "_s + m_dir->errorString());
    }
    // The directory goes into device URIs unquoted and the socket path has a length limit.
    static const QRegularExpression plainPath(u"^[A-Za-z0-9/._+-]+$"_s);
    if (!plainPath.match(m_dir->path()).hasMatch()) {
        return fail(u"temporary directory %1 has characters a device URI cannot "
                    u"carry; point TMPDIR elsewhere"_s.arg(m_dir->path()));
    }
    if (serverSocket().toLocal8Bit().size() >= qsizetype(sizeof(sockaddr_un::sun_path))) {
        return fail(u"socket path %1 is too long; point TMPDIR elsewhere"_s.arg(serverSocket()));
    }
    m_queues = queues;
    if (!writeConfiguration(queues)) {
        return false;
    }

    if (!launch()) {
        return false;
    }

    for (const QString& queue : queues) {
        if (!runAdmin({u"-p"_s, queue, u"-E"_s, u"-v"_s, u"capture:"_s + jobsDirectory(queue)})) {
            return false;
        }
    }
    if (!defaultQueue.isEmpty() && !runAdmin({u"-d"_s, defaultQueue})) {
        return false;
    }
    return true;
}

bool CupsFixture::launch()
{
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(findTool(u"cupsd"_s));
    m_process->setArguments(
        {u"-f"_s, u"-c"_s, path(u"etc/cupsd.conf"_s), u"-s"_s, path(u"etc/cups-files.conf"_s)});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"CUPS_SERVER"_s);
    env.remove(u"CUPS_SERVERROOT"_s);
    m_process->setProcessEnvironment(env);
    // Output goes to a file: a pipe nobody drains could stall the scheduler.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardOutputFile(path(u"log/cupsd.out"_s), QIODevice::Append);
    // Should this process die without running the destructor, the scheduler goes with it.
    const pid_t parent = ::getpid();
    m_process->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
    });
    m_process->start();
    if (!m_process->waitForStarted(startTimeoutMs)) {
        return fail(u"cupsd did not start: "_s + m_process->errorString());
    }
    return waitUntilListening(startTimeoutMs);
}

bool CupsFixture::restart(int pauseMs)
{
    if (!m_dir) {
        return fail(u"restart before start"_s);
    }
    stop();
    QTest::qWait(pauseMs);
    m_reason.clear();
    return launch();
}

bool CupsFixture::addDriverQueue(const QString& queue, const QString& ppd,
                                 const QStringList& options)
{
    if (!canAddQueue(queue))
        return false;
    if (!QDir().mkpath(jobsDirectory(queue)))
        return fail(u"cannot create "_s + jobsDirectory(queue));
    openToFilters();
    return addQueue(queue, u"capture:"_s + jobsDirectory(queue), {u"-P"_s, ppd}, options);
}

bool CupsFixture::canAddQueue(const QString& queue)
{
    if (!isRunning() || !validQueueName(queue) || m_queues.contains(queue))
        return fail(u"cannot add queue \"%1\""_s.arg(queue));
    return true;
}

bool CupsFixture::addQueue(const QString& queue, const QString& uri, const QStringList& more,
                           const QStringList& options)
{
    QStringList args = QStringList{u"-p"_s, queue, u"-E"_s, u"-v"_s, uri} + more;
    for (const QString& option : options)
        args << u"-o"_s << option;
    if (!runAdmin(args))
        return false;
    m_queues << queue;
    return true;
}

bool CupsFixture::writeConfiguration(const QStringList& queues)
{
    const bool root = ::geteuid() == 0;
    for (const QString& dir :
         {u"etc"_s, u"lib/backend"_s, u"spool/tmp"_s, u"cache"_s, u"run"_s, u"log"_s}) {
        if (!QDir().mkpath(path(dir))) {
            return fail(u"cannot create "_s + path(dir));
        }
    }
    for (const QString& queue : queues) {
        if (!QDir().mkpath(jobsDirectory(queue))) {
            return fail(u"cannot create "_s + jobsDirectory(queue));
        }
    }

    // The scheduler's own helpers (cups-exec runs every backend and filter) come from the system.
    const QString systemBin = u"/usr/lib/cups"_s;
    for (const QString& sub :
         {u"daemon"_s, u"filter"_s, u"notifier"_s, u"driver"_s, u"cgi-bin"_s, u"monitor"_s}) {
        const QString from = systemBin + u'/' + sub;
        if (QFileInfo(from).isDir() && !QFile::link(from, path(u"lib/"_s) + sub)) {
            return fail(u"cannot link "_s + from);
        }
    }
    if (!QFileInfo(systemBin + u"/daemon/cups-exec"_s).isExecutable()) {
        return fail(systemBin + u"/daemon/cups-exec is missing (package cups-daemon)"_s);
    }

    // cupsd runs a backend as root only when root owns it and nobody else may touch it.
    const QString backend = path(u"lib/backend/capture"_s);
    const QString captureBackend = QStringLiteral(CUPS_SUPPORT_DIR "/capture-backend");
    if (!QFile::copy(captureBackend, backend)) {
        return fail(u"cannot copy the capture backend from "_s + captureBackend);
    }
    if (!setMode(backend, root ? 0700 : 0755)) {
        return fail(u"cannot set the mode of "_s + backend);
    }

    // The configuration of every private scheduler of the project (scripts/lib-cups.sh writes
    // it from the same templates), with this one's directory in place of @DIR@.
    for (const QString& name : {u"cups-files.conf"_s, u"cupsd.conf"_s}) {
        QFile in(u"%1/%2.in"_s.arg(QStringLiteral(CUPS_SUPPORT_DIR), name));
        if (!in.open(QIODevice::ReadOnly)) {
            return fail(u"cannot read the template "_s + in.fileName());
        }
        QString text = QString::fromUtf8(in.readAll()).replace(u"@DIR@"_s, m_dir->path());
        if (name == u"cupsd.conf"_s)
            text += m_extraConfiguration + u'\n';
        if (!writeFile(path(u"etc/"_s + name), text)) {
            return fail(u"cannot write the configuration into "_s + path(u"etc"_s));
        }
    }
    return true;
}

bool CupsFixture::waitUntilListening(int timeoutMs)
{
    const QByteArray socketPath = QFile::encodeName(serverSocket());
    const QDeadlineTimer deadline(timeoutMs);
    while (!socketAnswers(socketPath)) {
        // Waiting for the end doubles as the pause between attempts.
        if (m_process->waitForFinished(5) || m_process->state() == QProcess::NotRunning) {
            return fail(u"cupsd ended during start-up (exit code %1)"_s.arg(m_process->exitCode()));
        }
        if (deadline.hasExpired()) {
            return fail(
                u"cupsd did not listen on %1 within %2 ms"_s.arg(serverSocket()).arg(timeoutMs));
        }
    }
    return true;
}

bool CupsFixture::installBackend(const QString& name, const QByteArray& script)
{
    const QString backend = path(u"lib/backend/"_s + name);
    if (!writeFile(backend, QString::fromUtf8("#!/bin/sh\nif [ $# -eq 0 ]; then exit 0; fi\n" +
                                              script + '\n')) ||
        !setMode(backend, ::geteuid() == 0 ? 0700 : 0755))
        return fail(u"cannot install the backend "_s + backend);
    return true;
}

bool CupsFixture::addScriptQueue(const QString& queue, const QByteArray& backend,
                                 const QStringList& options)
{
    const QString name = u"script-"_s + queue;
    return canAddQueue(queue) && installBackend(name, backend) &&
           addQueue(queue, name + u":/"_s, {}, options);
}

void CupsFixture::openToFilters()
{
    QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                             QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                             QFileDevice::ExeGroup);
}

bool CupsFixture::addEverywhereQueue(const QString& queue, const QString& uri)
{
    if (!canAddQueue(queue))
        return false;
    openToFilters();
    const QString ipp = path(u"lib/backend/ipp"_s);
    if (!QFileInfo::exists(ipp) && !QFile::link(u"/usr/lib/cups/backend/ipp"_s, ipp))
        return fail(u"cannot link the ipp backend"_s);
    return addQueue(queue, uri, {u"-m"_s, u"everywhere"_s});
}

bool CupsFixture::runTool(const QString& tool, const QStringList& arguments)
{
    QProcess admin;
    admin.setProcessEnvironment(environment());
    admin.setProcessChannelMode(QProcess::MergedChannels);
    admin.setStandardInputFile(QProcess::nullDevice());
    admin.start(findTool(tool), arguments);
    const bool finished = admin.waitForFinished(adminTimeoutMs);
    if (!finished) {
        admin.kill();
        admin.waitForFinished();
    }
    const QString output = QString::fromLocal8Bit(admin.readAll()).trimmed();
    if (!finished || admin.exitStatus() != QProcess::NormalExit || admin.exitCode() != 0) {
        return fail(u"%1 %2 failed: %3"_s.arg(tool, arguments.join(u' '),
                                              output.isEmpty() ? admin.errorString() : output));
    }
    return true;
}

bool CupsFixture::fail(const QString& message)
{
    const bool wasStarted = m_process != nullptr;
    stop();
    m_reason = message;
    if (wasStarted && m_dir) {
        const QString output = tail(path(u"log/cupsd.out"_s)).trimmed();
        if (!output.isEmpty()) {
            m_reason += u"\n--- cupsd output ---\n"_s + output;
        }
        m_reason +=
            u"\n--- problems in error_log ---\n"_s + problems(tail(path(u"log/error_log"_s)));
    }
    return false;
}

bool CupsFixture::hang()
{
    const pid_t pid = pid_t(processId());
    m_hung = pid > 0 && ::kill(pid, SIGSTOP) == 0;
    return m_hung;
}

void CupsFixture::resume()
{
    if (m_hung && isRunning())
        ::kill(pid_t(m_process->processId()), SIGCONT);
    m_hung = false;
}

void CupsFixture::stop()
{
    if (!m_process || m_process->state() == QProcess::NotRunning) {
        return;
    }
    resume(); // a frozen scheduler would not see the signals below
    // cupsd can miss a SIGTERM that arrives just before it goes back to waiting and then sleeps
    // up to a second; repeating the signal wakes it.
    const QDeadlineTimer deadline(stopTimeoutMs);
    do {
        m_process->terminate();
        if (m_process->waitForFinished(50)) {
            return;
        }
    } while (!deadline.hasExpired() && m_process->state() != QProcess::NotRunning);
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(stopTimeoutMs);
    }
}

bool CupsFixture::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 CupsFixture::processId() const
{
    return isRunning() ? m_process->processId() : 0;
}

QString CupsFixture::reason() const
{
    return m_reason;
}

QString CupsFixture::errorLog() const
{
    if (!m_dir) {
        return {};
    }
    QFile f(path(u"log/error_log"_s));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString CupsFixture::directory() const
{
    return m_dir ? m_dir->path() : QString();
}

QString CupsFixture::serverSocket() const
{
    return m_dir ? path(u"cups.sock"_s) : QString();
}

void CupsFixture::exportToEnvironment() const
{
    if (!m_dir) {
        qWarning("CupsFixture::exportToEnvironment: not started");
        return;
    }
    qputenv("CUPS_SERVER", QFile::encodeName(serverSocket()));
    qputenv("CUPS_SERVERROOT", QFile::encodeName(path(u"etc"_s)));
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
}

QProcessEnvironment CupsFixture::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!m_dir) {
        return env;
    }
    env.insert(u"CUPS_SERVER"_s, serverSocket());
    env.insert(u"CUPS_SERVERROOT"_s, path(u"etc"_s));
    env.remove(u"LPDEST"_s);
    env.remove(u"PRINTER"_s);
    return env;
}

QString CupsFixture::waitForJob(const QString& queue, int timeoutMs)
{
    if (!m_queues.contains(queue)) {
        qWarning("CupsFixture::waitForJob: unknown queue %s", qPrintable(queue));
        return {};
    }
    QSet<QString>& returned = m_returned[queue];
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (const QString& file : capturedJobs(queue)) {
            if (!returned.contains(file)) {
                returned.insert(file);
                return file;
            }
        }
        if (!isRunning()) {
            if (m_process && m_reason.isEmpty()) {
                fail(u"cupsd ended (exit code %1) while a job was awaited"_s.arg(
                    m_process->exitCode()));
            }
            return {};
        }
        if (deadline.hasExpired()) {
            return {};
        }
        QTest::qWait(10);
    }
}

QStringList CupsFixture::capturedJobs(const QString& queue) const
{
    if (!m_dir || !m_queues.contains(queue)) {
        return {};
    }
    const QDir dir(jobsDirectory(queue));
    QStringList files;
    for (const QString& name : dir.entryList({u"job-*.bin"_s}, QDir::Files, QDir::Name)) {
        files.append(dir.filePath(name));
    }
    return files;
}

QHash<QString, QString> CupsFixture::jobAttributes(const QString& capturedFile)
{
    QHash<QString, QString> attributes;
    if (!capturedFile.endsWith(u".bin"_s)) {
        return attributes;
    }
    QFile f(capturedFile.chopped(4) + u".info"_s);
    if (!f.open(QIODevice::ReadOnly)) {
        return attributes;
    }
    for (const QByteArray& record : f.readAll().split('\0')) {
        const qsizetype eq = record.indexOf('=');
        if (eq > 0) {
            attributes.insert(QString::fromUtf8(record.left(eq)),
                              QString::fromUtf8(record.mid(eq + 1)));
        }
    }
    return attributes;
}

QString CupsFixture::jobsDirectory(const QString& queue) const
{
    return path(u"jobs/"_s) + queue;
}

QString CupsFixture::path(const QString& relative) const
{
    if (!m_dir) {
        return {};
    }
    return m_dir->path() + u'/' + relative;
}
