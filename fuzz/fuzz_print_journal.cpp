// Feeds arbitrary bytes to the print journal's reader: a damaged or foreign file must never crash
// the program, and what is read from any file, written back and read again, comes out the same,
// so an entry never changes meaning on its way through a save.
#include "print/PrintJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const QList<JournalEntry> entries =
        PrintJournal::parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const QByteArray written = PrintJournal::format(entries);
    const QList<JournalEntry> reread = PrintJournal::parse(written);
    if (reread != entries)
        __builtin_trap();
    if (PrintJournal::format(reread) != written)
        __builtin_trap();
    return 0;
}
