// The PDF writer: making it and resetting it for a document. Its parts are the token writer
// (PdfTokens.cpp), the object file (PdfObjects.cpp), fonts (PdfFonts.cpp) and pages
// (PdfPages.cpp), sharing what PdfStreamPrivate.h holds.
#include "print/PdfStreamPrivate.h"

using namespace pdf;

void PdfStream::Private::resetDocument()
{
    objects.clear();
    objects.shrink_to_fit();
    packedText.s.clear();
    packedObjects.clear();
    seenBefore.clear();
    seenNow.clear();
    forms.clear();
    formObjects.clear();
    formKeyBytes = 0;
    pages.clear();
    pages.shrink_to_fit();
    written = 0;
    out.s.clear();
    error.clear();
    inPage = false;
    for (Font& font : fonts) {
        std::fill(font.codeOf.begin(), font.codeOf.end(), kNoCode);
        font.pdfFonts.clear();
    }
    pdfFonts.clear();
    pdfFonts.shrink_to_fit();
    ops.clear();
    codes.clear();
}

PdfStream::PdfStream(int resolution) : m_d(std::make_unique<Private>(resolution))
{
    m_d->content.s.reserve(64 * 1024);
    m_d->out.s.reserve(kFlushSize + 64 * 1024);
}

PdfStream::~PdfStream()
{
    discard();
    if (m_d->deflaterReady)
        deflateEnd(&m_d->deflater);
}

void PdfStream::setInfo(const QString& title, const QString& creator)
{
    m_d->title = title;
    m_d->creator = creator;
}
