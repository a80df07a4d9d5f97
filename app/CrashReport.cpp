#include "app/CrashReport.h"

#include "core/config/RegistryIni.h"
#include "core/platform/FileName.h"
#include "core/platform/RegistryFile.h"
#include "core/update/VersionInfo.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QSysInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Mixed into the machine's id before hashing, so that the identifier means nothing outside
// the program's reports.
constexpr char kMachineIdSalt[] = "Morvane/Tarnyx/crash-report/1:";
constexpr qint64 kMaxReportBytes = 1 << 20;
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

QString unknownMachine()
{
    return QStringLiteral("neznámý");
}

QString productRoot()
{
    // Before the settings constants are read the product key is not set yet.
    const QString key =
        productKeys().productKey.isEmpty() ? QStringLiteral("Tarnyx") : productKeys().productKey;
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\Morvane\\") + key;
}

// The lines every report starts with: the program, the system and the machine.
QString headerLines(const QString& machineId)
{
    return QStringLiteral("Zpráva o chybě programu Tarnyx\n") + QStringLiteral("Program: Tarnyx ") +
           programVersion() + QStringLiteral("\nQt: ") + QString::fromLatin1(qVersion()) +
           QStringLiteral("\nSystém: ") + QSysInfo::prettyProductName() +
           QStringLiteral(", jádro ") + QSysInfo::kernelVersion() +
           QStringLiteral("\nIdentifikátor počítače: ") + machineId + u'\n';
}

// ---- What the fatal-error handlers use ----
//
// They run with the process in an unknown state (the heap may be corrupt, a lock held), so they
// make only async-signal-safe calls on memory prepared when they were installed and never freed.

struct FatalSetup
{
    char dir[4096];    // the report directory with a trailing "/", empty when there is none
    char header[8192]; // headerLines() in UTF-8
    std::size_t headerSize;
    pid_t uiThread;
};
FatalSetup g_setup;
std::atomic<pid_t> g_reportingThread{0};
alignas(16) char g_altStack[64 * 1024];

// A text put together without allocating; whatever does not fit is cut off.
class RawText
{
public:
    void add(const char* text)
    {
        while (*text && m_size < sizeof m_data - 1)
            m_data[m_size++] = *text++;
        m_data[m_size] = '\0';
    }
    void addNumber(unsigned long long value, unsigned base = 10, int minDigits = 1)
    {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value % base];
            value /= base;
        } while (value != 0 && count < int(sizeof digits));
        while (count < minDigits && count < int(sizeof digits))
            digits[count++] = '0';
        char reversed[sizeof digits + 1];
        for (int i = 0; i < count; ++i)
            reversed[i] = digits[count - 1 - i];
        reversed[count] = '\0';
        add(reversed);
    }
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    char m_data[2048] = {};
    std::size_t m_size = 0;
};

void writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= std::size_t(n);
    }
}

const char* signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signál";
    }
}

struct UtcTime
{
    long long year;
    unsigned month, day, hour, minute, second;
};

// Calendar date from seconds since 1970 (UTC), by arithmetic alone: the C library's conversions
// may take locks.
UtcTime utcTime(long long seconds)
{
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = unsigned(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    UtcTime t{};
    t.day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    t.month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
    t.hour = unsigned(rest / 3600);
    t.minute = unsigned(rest / 60 % 60);
    t.second = unsigned(rest % 60);
    return t;
}

void addThread(RawText& text)
{
    const pid_t self = ::gettid();
    if (self == g_setup.uiThread) {
        text.add("uživatelské rozhraní");
        return;
    }
    char name[17] = {};
    ::prctl(PR_GET_NAME, name);
    text.add(name);
    text.add(" (");
    text.addNumber((unsigned long long)self);
    text.add(")");
}

// True for the first thread that reports a fatal error. Another thread that fails meanwhile
// waits a while for the first to end the process; a failure inside the report itself returns at
// once, so that the process dies rather than hangs.
bool claimReporting()
{
    const pid_t self = ::gettid();
    pid_t none = 0;
    if (g_reportingThread.compare_exchange_strong(none, self))
        return true;
    if (none != self) {
        for (int i = 0; i < 100; ++i) {
            const timespec pause{0, 100'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }
    return false;
}

void writeFatalReportTo(int fd, const RawText& body, void* const* frames, int frameCount)
{
    writeAll(fd, g_setup.header, g_setup.headerSize);
    writeAll(fd, body.data(), body.size());
    ::backtrace_symbols_fd(frames, frameCount, fd);
}

// Writes the report of a fatal error into a new file of the report directory and to stderr.
void writeFatalReport(const RawText& what)
{
    void* frames[64];
    const int frameCount = ::backtrace(frames, 64);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const UtcTime t = utcTime(now.tv_sec);

    RawText body;
    body.add("Čas: ");
    body.addNumber((unsigned long long)t.year, 10, 4);
    body.add("-");
    body.addNumber(t.month, 10, 2);
    body.add("-");
    body.addNumber(t.day, 10, 2);
    body.add(" ");
    body.addNumber(t.hour, 10, 2);
    body.add(":");
    body.addNumber(t.minute, 10, 2);
    body.add(":");
    body.addNumber(t.second, 10, 2);
    body.add(" UTC\nChyba: ");
    body.add(what.data());
    body.add("\nVlákno: ");
    addThread(body);
    body.add("\n\nZásobník volání:\n");

    if (g_setup.dir[0] != '\0') {
        RawText name;
        name.add(g_setup.dir);
        name.add("tarnyx-crash-");
        name.addNumber((unsigned long long)t.year, 10, 4);
        name.addNumber(t.month, 10, 2);
        name.addNumber(t.day, 10, 2);
        name.add("-");
        name.addNumber(t.hour, 10, 2);
        name.addNumber(t.minute, 10, 2);
        name.addNumber(t.second, 10, 2);
        name.add("-");
        name.addNumber((unsigned long long)::getpid());
        name.add(".txt");
        const int fd = ::open(name.data(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            writeFatalReportTo(fd, body, frames, frameCount);
            ::fsync(fd);
            ::close(fd);
        }
    }
    writeFatalReportTo(STDERR_FILENO, body, frames, frameCount);
}

void restoreDefaultAction(int sig)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
}

void onFatalSignal(int sig, siginfo_t* info, void*)
{
    if (claimReporting()) {
        RawText what;
        what.add("signál ");
        what.add(signalName(sig));
        what.add(" (");
        what.addNumber(unsigned(sig));
        what.add(")");
        // A fault the processor raised (not one sent by kill or raise) has an address.
        if (sig != SIGABRT && info && info->si_code > 0) {
            what.add(", adresa 0x");
            what.addNumber(reinterpret_cast<std::uintptr_t>(info->si_addr), 16);
        }
        writeFatalReport(what);
    }
    // The signal is blocked while this runs: it ends the process as soon as this returns.
    restoreDefaultAction(sig);
    ::raise(sig);
}

[[noreturn]] void onTerminate()
{
    RawText what;
    if (const std::exception_ptr error = std::current_exception()) {
        what.add("neošetřená výjimka");
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            int status = -1;
            char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
            what.add(" ");
            what.add(status == 0 && readable ? readable : type->name());
            std::free(readable);
        }
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            what.add(": ");
            what.add(e.what());
        } catch (...) {
        }
    } else {
        what.add("program ukončen voláním std::terminate");
    }
    if (claimReporting())
        writeFatalReport(what);
    restoreDefaultAction(SIGABRT);
    std::abort();
}

void copyInto(char* target, std::size_t capacity, const QByteArray& text)
{
    if (std::size_t(text.size()) >= capacity) {
        target[0] = '\0';
        return;
    }
    std::copy(text.cbegin(), text.cend(), target);
    target[text.size()] = '\0';
}

} // namespace

CrashReportPaths CrashReportPaths::defaults()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return {state + QStringLiteral("/Morvane/Tarnyx/crash"), QStringLiteral("/etc/machine-id"),
            platform::RegistryFile::defaultPath()};
}

QString machineIdentifier(const QString& machineIdPath)
{
    QFile file(machineIdPath);
    if (!file.open(QIODevice::ReadOnly))
        return unknownMachine();
    const QByteArray id = file.read(4096).trimmed();
    if (id.isEmpty())
        return unknownMachine();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(kMachineIdSalt));
    hash.addData(id);
    return QString::fromLatin1(hash.result().toHex());
}

QString settingsDump(const QString& hivePath)
{
    const QString root = productRoot();
    const QString below = root + u'\\';
    QString dump = QStringLiteral("Nastavení (") + root + QStringLiteral("):\n");
    // The product's keys alone, written as the settings file writes them.
    platform::RegistryHive product;
    const platform::RegistryHive hive = platform::RegistryFile(hivePath).read();
    for (const platform::RegKey& key : hive.keys()) {
        if (!platform::sameRegName(key.path, root) &&
            !key.path.startsWith(below, Qt::CaseInsensitive))
            continue;
        product.key(key.path);
        for (const platform::RegValue& value : key.values)
            product.setValue(key.path, value);
    }
    if (product.keys().isEmpty())
        return dump + QStringLiteral("(žádné)\n");
    QString text = QString::fromUtf8(product.serialize());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return dump + text;
}

QString composeCrashReport(const QString& what, const QString& thread,
                           const CrashReportPaths& paths)
{
    const QString time =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
    return headerLines(machineIdentifier(paths.machineIdPath)) + QStringLiteral("Čas: ") + time +
           QStringLiteral("\nChyba: ") + what + QStringLiteral("\nVlákno: ") + thread +
           QStringLiteral("\n\n") + settingsDump(paths.hivePath);
}

void installCrashHandlers(const CrashReportPaths& paths)
{
    g_setup.dir[0] = '\0';
    if (QDir().mkpath(paths.reportDir)) {
        // Reports hold the settings: only the user may read them.
        QFile::setPermissions(paths.reportDir,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        copyInto(g_setup.dir, sizeof g_setup.dir,
                 platform::encodeFileName(QDir(paths.reportDir).absolutePath()) + '/');
    }
    const QByteArray header = headerLines(machineIdentifier(paths.machineIdPath)).toUtf8();
    g_setup.headerSize = std::min(std::size_t(header.size()), sizeof g_setup.header);
    std::copy_n(header.cbegin(), g_setup.headerSize, g_setup.header);
    g_setup.uiThread = ::gettid();

    // backtrace() loads its unwinder on first use, which a signal handler must not do.
    void* warmUp[2];
    ::backtrace(warmUp, 2);
    // A stack overflow leaves no stack to report it on: the handler gets one of its own.
    stack_t altStack = {};
    altStack.ss_sp = g_altStack;
    altStack.ss_size = sizeof g_altStack;
    ::sigaltstack(&altStack, nullptr);

    struct sigaction action = {};
    action.sa_sigaction = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (const int sig : kFatalSignals)
        ::sigaction(sig, &action, nullptr);
    std::set_terminate(onTerminate);
}

QString takePendingCrashReport(const CrashReportPaths& paths)
{
    const QFileInfoList files = QDir(paths.reportDir)
                                    .entryInfoList({QStringLiteral("tarnyx-crash-*.txt")},
                                                   QDir::Files | QDir::NoSymLinks, QDir::Name);
    QStringList reports;
    for (const QFileInfo& info : files) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.read(kMaxReportBytes);
        file.close();
        QFile::remove(info.filePath());
        if (!text.trimmed().isEmpty())
            reports << QString::fromUtf8(text).trimmed();
    }
    if (reports.isEmpty())
        return {};
    return reports.join(QStringLiteral("\n\n")) + QStringLiteral("\n\n") +
           settingsDump(paths.hivePath);
}
