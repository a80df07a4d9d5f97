#include "print/PrintJournal.h"

#include "core/platform/FileName.h"
#include "core/platform/NamedMutex.h"
#include "core/platform/OutputFile.h"
#include "core/platform/RegistryFile.h"
#include "core/platform/WholeFile.h"
#include "print/CupsClient.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {

const QByteArray kVersion = QByteArrayLiteral("1");
constexpr int kFields = 10;

QByteArray encode(const QString& text)
{
    return QUrl::toPercentEncoding(text);
}

QString decode(const QByteArray& text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text));
}

// A path keeps the bytes it has on disk, also where they are no UTF-8 text.
QByteArray encodePath(const QString& path)
{
    return platform::encodeFileName(path).toPercentEncoding();
}

QString decodePath(const QByteArray& text)
{
    return platform::decodeFileName(QByteArray::fromPercentEncoding(text));
}

} // namespace

PrintJournal::PrintJournal(QString path) : m_path(std::move(path))
{}

QString PrintJournal::defaultPath()
{
    return QFileInfo(platform::RegistryFile::defaultPath()).absolutePath() +
           QStringLiteral("/print-journal");
}

QByteArray PrintJournal::format(const QList<JournalEntry>& entries)
{
    QByteArray out;
    for (const JournalEntry& e : entries) {
        const QList<QByteArray> fields = {kVersion,
                                          QByteArray::number(e.jobId),
                                          QByteArray::number(e.report.device),
                                          QByteArray::number(e.report.inode),
                                          QByteArray::number(e.report.size),
                                          QByteArray::number(e.report.mtimeNs),
                                          QByteArray::number(e.submitted),
                                          encodePath(e.path),
                                          encode(e.queue),
                                          encode(e.title)};
        out += fields.join('\t') + '\n';
    }
    return out;
}

QList<JournalEntry> PrintJournal::parse(const QByteArray& text)
{
    QList<JournalEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != kFields || f.at(0) != kVersion)
            continue;
        bool ok[6] = {};
        JournalEntry e;
        e.jobId = f.at(1).toInt(&ok[0]);
        e.report.device = f.at(2).toULongLong(&ok[1]);
        e.report.inode = f.at(3).toULongLong(&ok[2]);
        e.report.size = f.at(4).toLongLong(&ok[3]);
        e.report.mtimeNs = f.at(5).toLongLong(&ok[4]);
        e.submitted = f.at(6).toLongLong(&ok[5]);
        e.path = decodePath(f.at(7));
        e.queue = decode(f.at(8));
        e.title = decode(f.at(9));
        if (std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }) && e.jobId >= 0 &&
            !e.path.isEmpty())
            entries << e;
    }
    return entries;
}

bool PrintJournal::modify(const std::function<void(QList<JournalEntry>&)>& change) const
{
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return false;
    // Where no lock can be had (a link or another user's file under its name), the entry is
    // still written: a report recorded without the lock is better than one not recorded.
    const platform::FileLockGuard lock(platform::ownFileLockPath(m_path));
    QList<JournalEntry> list = entries();
    const QByteArray before = format(list);
    change(list);
    const QByteArray after = format(list);
    if (after == before)
        return true;
    if (list.isEmpty())
        return QFile::remove(m_path) || !QFileInfo::exists(m_path);
    return platform::replaceWholeFile(m_path, after);
}

QList<JournalEntry> PrintJournal::entries() const
{
    const std::optional<QByteArray> text = platform::readWholeFile(m_path);
    return text ? parse(*text) : QList<JournalEntry>();
}

bool PrintJournal::record(const JournalEntry& entry) const
{
    return modify([&](QList<JournalEntry>& list) {
        list.removeIf([&](const JournalEntry& e) { return e.path == entry.path; });
        list << entry;
    });
}

bool PrintJournal::setJobId(const QString& path, int jobId) const
{
    return modify([&](QList<JournalEntry>& list) {
        for (JournalEntry& e : list)
            if (e.path == path)
                e.jobId = jobId;
    });
}

bool PrintJournal::remove(const QString& path) const
{
    return modify([&](QList<JournalEntry>& list) {
        list.removeIf([&](const JournalEntry& e) { return e.path == path; });
    });
}

std::optional<JournalEntry> PrintJournal::find(const QString& path) const
{
    for (const JournalEntry& e : entries())
        if (e.path == path)
            return e;
    return std::nullopt;
}

PriorPrint checkPriorPrint(const PrintJournal& journal, const QString& path,
                           const platform::FileIdentity& report, const std::atomic<bool>* stop)
{
    const std::optional<JournalEntry> entry = journal.find(path);
    if (!entry)
        return PriorPrint::None;
    if (!(entry->report == report)) {
        // Another report has been written to that path since.
        journal.remove(path);
        return PriorPrint::None;
    }
    cupsclient::JobFate fate = cupsclient::JobFate::Gone;
    if (entry->jobId > 0) {
        fate = cupsclient::jobFate(entry->jobId, stop);
    } else {
        // Ended between handing the document over and learning its job id: the job is known
        // by its name, created no earlier than the hand-over (a second of slack for rounding).
        int jobId = 0;
        fate = cupsclient::findJob(entry->queue, entry->title, entry->submitted - 1, jobId, stop);
        if (fate == cupsclient::JobFate::Kept)
            journal.setJobId(path, jobId);
    }
    switch (fate) {
    case cupsclient::JobFate::Kept:
        return PriorPrint::Printed;
    case cupsclient::JobFate::NoAnswer:
        return PriorPrint::Unknown;
    case cupsclient::JobFate::Gone:
        break;
    }
    journal.remove(path);
    return PriorPrint::None;
}
