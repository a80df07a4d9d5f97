// Feeds arbitrary bytes to the event log's reader. Besides not crashing, the reader and writer
// must agree: records read from any file, written back and read again, come out the same, and
// writing them again gives the same bytes. This holds because a parsed time never holds "]", no
// field holds a line break, and a parsed description never starts with ">".
#include "core/log/EventLog.h"

static QByteArray formatAll(const EventLogRecordList& records)
{
    QByteArray content;
    for (const EventLogRecord& record : records)
        content += EventLog::formatLine(record);
    return content;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const EventLogRecordList records =
        EventLog::parseLog(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const QByteArray written = formatAll(records);
    const EventLogRecordList reread = EventLog::parseLog(written);
    if (reread != records)
        __builtin_trap();
    if (formatAll(reread) != written)
        __builtin_trap();
    return 0;
}
