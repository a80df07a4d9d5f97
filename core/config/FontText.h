#pragma once

#include <QFont>
#include <QString>

// A font as the settings keep it: face, character set, colour, size in points and style.
// The character set and colour have no meaning to Qt but are kept so that stored font texts
// survive a round trip unchanged.
struct FontDesc
{
    static constexpr int kDefaultCharset = 1;          // "default character set"
    static constexpr int kWindowTextColor = -16777208; // the system colour of window text

    QString name = QStringLiteral("Courier New");
    int charset = kDefaultCharset;
    int color = kWindowTextColor;
    int size = 10; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;

    bool operator==(const FontDesc&) const = default;

    QFont toQFont() const;
    // Face, size and style of `font`; character set and colour as given.
    static FontDesc fromQFont(const QFont& font, int charset = kDefaultCharset,
                              int color = kWindowTextColor);
};

// name=...,charset=...,color=...,size=...,style=... as comma text.
QString fontToText(const FontDesc& font);
// Changes `font` to the font described by `text`. A text without a name, or one that cannot be
// read, leaves `font` unchanged; missing or non-numeric charset, color and size keep the values
// `font` had.
void textToFont(const QString& text, FontDesc& font);

// Comma text of a string list: items joined by ",", an item quoted (inner quotes doubled) when it
// holds a blank, a control character, a comma or a double quote.
QString joinCommaText(const QStringList& items);
// The reverse: items end at a comma or at a blank outside quotes.
QStringList splitCommaText(const QString& text);
