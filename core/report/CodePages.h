#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Report text is kept as Windows-1250 bytes. The payroll program may write its reports in one of
// these code pages (the header's codePage field); convertReportText turns them into
// Windows-1250, one byte for one byte.
enum ReportCodePage : int
{
    CodePage852 = 852, // IBM PC Latin 2
    CodePageKamenicky = 862,
    CodePageIso88592 = 859,
    CodePage1250 = 1250, // already Windows-1250
};

// Every byte b replaced by table[b] for 852, 862 and 859; any other code page returns the text
// unchanged. Pure, safe on any thread.
QByteArray convertReportText(QByteArrayView text, int codePage);
// The same, in place, for the bytes [from, to) of `text`, which must not be shared.
void convertReportTextInPlace(char* from, char* to, int codePage);

// The one conversion from Windows-1250 bytes to Unicode, for whatever is shown or drawn. Bytes
// that Windows-1250 leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98) become U+FFFD.
QString cp1250ToUnicode(QByteArrayView text);
QChar cp1250ToUnicode(char byte);
// The reverse, for text typed by the user that is compared with report text; characters that
// Windows-1250 lacks become "?".
QByteArray unicodeToCp1250(QStringView text);

// True for the bytes report text draws boxes with (after conversion to Windows-1250): printing
// draws them as lines and the viewer shows them as lines, so they never stand for letters.
bool isFrameByte(unsigned char byte);

// Report text as it is kept in the settings (titles of the orientation memory): as
// cp1250ToUnicode, but the five undefined bytes become U+0081 ... U+0098, as Windows converts
// them, so that a stored title comes back byte for byte.
QString cp1250ToStoredText(QByteArrayView text);
QByteArray storedTextToCp1250(QStringView text);
