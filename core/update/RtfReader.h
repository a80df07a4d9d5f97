// The RTF reader of the online update: the publisher's description of a new version, written as
// rich text, becomes a QTextDocument for the new-version dialog.
#pragma once

#include <QByteArrayView>

class QTextDocument;

// The deepest nesting of groups a document may have; deeper documents are not read as rich text.
inline constexpr int kMaxRtfGroupDepth = 256;
// The most characters (paragraph ends included) a document gets; the rest of the text is dropped.
inline constexpr int kMaxRtfTextLength = 1 << 20;

// True when the text starts as rich text does, with "{\rtf".
bool looksLikeRtf(QByteArrayView text);

// Reads rich text into `document`, replacing what it held: text in the document's code page,
// \'hh, \u characters, paragraphs, line breaks and tabs, bold, italic, underline and the colours
// of the colour table. Font tables, style sheets, document information, pictures, headers,
// footers and every destination marked \* are skipped. A document without a closing brace keeps
// what was read; text after the closing brace of the document is ignored.
// Returns false when the text is not rich text: it does not start with "{\rtf" (the document is
// left as it was) or nests its groups deeper than kMaxRtfGroupDepth (the document is left empty).
// The caller then shows the text as plain text. Needs no application object.
bool readRtf(QByteArrayView rtf, QTextDocument& document);
