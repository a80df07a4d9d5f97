#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// A TrueType font file read for embedding: the file's bytes (one face of a collection made into
// a file of its own), its character map and the metrics a PDF font descriptor needs, all in
// 1/1000 em. The font engine of the desktop is not used: it keeps caches per thread that must
// not outlive a print worker's thread.
struct TrueTypeFont
{
    QByteArray data;     // the font file as embedded
    QByteArrayView cmap; // the chosen character map subtable, inside data
    int cmapFormat = 0;  // 4 or 12
    QByteArray name;     // PostScript name, printable characters only; may be empty
    int unitsPerEm = 1000;
    std::vector<int> widths; // advance of each glyph in 1/1000 em
    int baseWidth = 0;       // of "M"; the advance the character spacing is set for
    int flags = 0;           // PDF font descriptor flags
    int bbox[4] = {};
    double italicAngle = 0;
    int ascent = 0;
    int descent = 0;
    int underlinePosition = 0; // 1/1000 em, negative below the baseline
    int underlineThickness = 0;
    int capHeight = 0;
    int stemV = 0;
    bool longLoca = false; // offsets in the glyph location table are 32-bit

    struct Table
    {
        quint32 tag;
        quint32 offset;
        quint32 length;
    };
    std::vector<Table> tables; // of data; each lies within it

    struct Box
    {
        int xMin = 0, yMin = 0, xMax = 0, yMax = 0; // 1/1000 em
        bool empty = true;                          // the glyph draws nothing
    };

    // Face `index` of the font file at `path`; nullopt when it is not a TrueType font that may
    // be embedded (damaged, no outlines, or a licence that forbids embedding).
    static std::optional<TrueTypeFont> load(const QString& path, int index);

    // The glyph of a character by the font's own character map; 0 (the missing glyph) when the
    // font has none.
    quint16 glyph(char32_t c) const;

    // The outline bounds of a glyph; empty for a glyph without outline (a blank) and for one
    // whose data lies outside its table.
    Box glyphBox(quint16 glyph) const;

    // A font file for a simple PDF font whose one-byte code k draws glyph codeGlyphs[k] (0 for
    // a code left unused): the glyphs of the codes and the glyphs they are built from keep their
    // ids and outlines, all others are emptied; the character map maps 0xF000 + k to the glyph;
    // tables a PDF reader does not use are left out. Empty when the font cannot be rewritten.
    QByteArray subset(const std::vector<quint16>& codeGlyphs) const;

private:
    QByteArrayView table(quint32 tag) const;
    // The bytes of a glyph's description within the glyph table; empty when it has none.
    QByteArrayView glyphData(quint16 glyph) const;
};
