// The PDF writer's object file: objects and their offsets, object streams, the cross-reference
// stream and trailer, the info dictionary; opening, closing and discarding the file.
#include "print/PdfStreamPrivate.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>

#include <cstdlib>

using namespace pdf;

namespace {

QString ioError(const QString& path, const QString& reason)
{
    return QStringLiteral("Zápis do souboru %1 selhal: %2").arg(path, reason);
}

} // namespace

void PdfStream::Private::flush()
{
    if (out.s.empty())
        return;
    if (!failed() && file.write(out.s.data(), qint64(out.s.size())) != qint64(out.s.size()))
        fail(ioError(file.fileName(), file.errorString()));
    written += qint64(out.s.size());
    out.s.clear();
}

void PdfStream::Private::writeStream(int object, std::string_view data, std::string_view dictionary)
{
    beginObject(object)
        .raw("<</Length ")
        .num(qint64(data.size()))
        .raw("/Filter/FlateDecode")
        .raw(dictionary)
        .raw(">>\nstream\n")
        .raw(data)
        .raw("\nendstream");
    endObject();
}

bool PdfStream::Private::compress(std::string_view data, std::string& result, z_stream& stream)
{
    result.resize(deflateBound(&stream, uLong(data.size())));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(result.data());
    stream.avail_out = uInt(result.size());
    const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    result.resize(stream.total_out);
    deflateReset(&stream);
    if (!done)
        fail(QStringLiteral("Kompresi dat dokumentu PDF se nepodařilo dokončit."));
    return done;
}

void PdfStream::Private::writeCompressed(int object, std::string_view data, int level,
                                         std::string_view dictionary)
{
    z_stream stream{};
    if (deflateInit(&stream, level) != Z_OK) {
        fail(QStringLiteral("Kompresi dat dokumentu PDF nelze zahájit."));
        return;
    }
    std::string packed;
    if (compress(data, packed, stream))
        writeStream(object, packed, dictionary);
    deflateEnd(&stream);
}

void PdfStream::Private::writeInfo(int object)
{
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    const QString date = now.toString(QStringLiteral("yyyyMMddHHmmss")) %
                         (offset < 0 ? u'-' : u'+') %
                         QString::number(minutes / 60).rightJustified(2, u'0') % u'\'' %
                         QString::number(minutes % 60).rightJustified(2, u'0') % u'\'';
    Bytes& info = beginPacked(object);
    info.raw("<<");
    if (!title.isEmpty())
        info.raw("/Title").textString(title);
    if (!creator.isEmpty())
        info.raw("/Creator").textString(creator);
    info.raw("/Producer(Tarnyx " TARNYX_VERSION_STRING ")/CreationDate(D:")
        .raw(date.toLatin1().constData())
        .raw(")>>");
    endPacked();
}

void PdfStream::Private::writeObjectStream()
{
    if (packedObjects.empty())
        return;
    const int stream = newObject();
    Bytes data;
    for (size_t k = 0; k < packedObjects.size(); ++k) {
        data.num(packedObjects[k].first).raw(" ").num(qint64(packedObjects[k].second)).raw(" ");
        objects[size_t(packedObjects[k].first)] = {0, stream, int(k)};
    }
    Bytes dictionary;
    dictionary.raw("/Type/ObjStm/N ")
        .num(qint64(packedObjects.size()))
        .raw("/First ")
        .num(qint64(data.s.size()));
    data.raw(packedText.s);
    packedText.s.clear();
    packedObjects.clear();
    writeCompressed(stream, data.s, kFontLevel, dictionary.s);
}

// The cross-reference stream: a row of type, offset or object stream, and generation or index
// for every object, each row taken from the one above (the PNG "up" predictor), so that the
// rising offsets compress well.
void PdfStream::Private::writeTrailer(int info)
{
    writeObjectStream();
    const int self = newObject();
    const qint64 xref = position();
    objects[size_t(self)] = {xref, 0, 0};
    int offsetBytes = 1;
    while (offsetBytes < 8 && (std::max<qint64>(xref, qint64(objects.size())) >> (8 * offsetBytes)))
        ++offsetBytes;
    const size_t columns = size_t(offsetBytes) + 3;
    std::string rows;
    rows.reserve(objects.size() * (columns + 1));
    std::vector<quint8> previous(columns, 0);
    std::vector<quint8> row(columns);
    for (size_t i = 0; i < objects.size(); ++i) {
        const Location& at = objects[i];
        const qint64 second = i == 0 ? 0 : at.stream > 0 ? at.stream : at.offset;
        const int third = i == 0 ? 0xFFFF : at.index;
        row[0] = i == 0 ? 0 : at.stream > 0 ? 2 : 1;
        for (int k = 0; k < offsetBytes; ++k)
            row[size_t(1 + k)] = quint8(second >> (8 * (offsetBytes - 1 - k)));
        row[columns - 2] = quint8(third >> 8);
        row[columns - 1] = quint8(third);
        rows += char(2);
        for (size_t k = 0; k < columns; ++k)
            rows += char(quint8(row[k] - previous[k]));
        std::swap(row, previous);
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(file.fileName().toUtf8());
    hash.addData(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
    hash.addData(QByteArray::number(xref));
    const QByteArray id = hash.result().toHex().toUpper();
    Bytes dictionary;
    dictionary.raw("/Type/XRef/Size ")
        .num(qint64(objects.size()))
        .raw("/W[1 ")
        .num(offsetBytes)
        .raw(" 2]/Root ")
        .ref(kCatalog)
        .raw("/Info ")
        .ref(info)
        .raw("/ID[<")
        .raw(id.constData())
        .raw("><")
        .raw(id.constData())
        .raw(">]/DecodeParms<</Columns ")
        .num(qint64(columns))
        .raw("/Predictor 12>>");
    writeCompressed(self, rows, kFontLevel, dictionary.s);
    out.raw("startxref\n").num(xref).raw("\n%%EOF\n");
}

bool PdfStream::open(const QString& path, QString& error)
{
    if (m_d->open) {
        error = QStringLiteral("Dokument PDF %1 je už otevřen.").arg(m_d->file.fileName());
        return false;
    }
    m_d->resetDocument();
    m_d->file.setFileName(path);
    if (!m_d->file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = QStringLiteral("Nelze vytvořit soubor %1: %2").arg(path, m_d->file.errorString());
        return false;
    }
    if (!m_d->deflaterReady) {
        if (deflateInit2(&m_d->deflater, kContentLevel, Z_DEFLATED, 15, 8, kContentStrategy) !=
            Z_OK) {
            m_d->file.close();
            m_d->file.remove();
            error = QStringLiteral("Kompresi dat dokumentu PDF nelze zahájit.");
            return false;
        }
        m_d->deflaterReady = true;
    }
    m_d->open = true;
    for (int i = 0; i <= kResources; ++i)
        m_d->newObject();
    m_d->out.raw("%PDF-1.5\n%\xE2\xE3\xCF\xD3\n");
    return true;
}

bool PdfStream::close(QString& error)
{
    if (!m_d->open) {
        error = QStringLiteral("Dokument PDF není otevřen.");
        return false;
    }
    QString ignored;
    if (m_d->inPage)
        endPage(ignored);
    // A document needs a page; one without any gets a blank A4 page.
    if (m_d->pages.empty() && !m_d->failed()) {
        beginPage(QSizeF(kA4Width, kA4Height), QPointF());
        endPage(ignored);
    }

    Bytes resources;
    resources.raw("<</Font<<");
    for (size_t i = 0; i < m_d->pdfFonts.size() && !m_d->failed(); ++i) {
        resources.raw("/F").num(qint64(i)).raw(" ").ref(m_d->writeFont(m_d->pdfFonts[i], int(i)));
    }
    resources.raw(">>");
    if (!m_d->formObjects.empty()) {
        resources.raw("/XObject<<");
        for (size_t i = 0; i < m_d->formObjects.size(); ++i)
            resources.raw("/X").num(qint64(i)).raw(" ").ref(m_d->formObjects[i]);
        resources.raw(">>");
    }
    resources.raw("/ProcSet[/PDF/Text]>>");
    m_d->beginPacked(kResources).raw(resources.s);
    m_d->endPacked();

    m_d->beginPacked(kPages)
        .raw("<</Type/Pages/MediaBox[0 0 ")
        .real(m_d->firstPaper.width())
        .raw(" ")
        .real(m_d->firstPaper.height())
        .raw("]/Resources ")
        .ref(kResources)
        .raw("/Count ")
        .num(qint64(m_d->pages.size()))
        .raw("/Kids[");
    for (size_t i = 0; i < m_d->pages.size(); ++i)
        m_d->packedText.ref(m_d->pages[i]).raw((i + 1) % 10 ? " " : "\n");
    m_d->packedText.raw("]>>");
    m_d->endPacked();

    // The catalog stays outside the object streams: a reader that has to rebuild the cross
    // references (a print driver puts its commands ahead of the file, so the offsets are off)
    // finds it by scanning the file, and the rest through it.
    m_d->beginObject(kCatalog).raw("<</Type/Catalog/Pages ").ref(kPages).raw(">>");
    m_d->endObject();

    const int info = m_d->newObject();
    m_d->writeInfo(info);
    if (m_d->position() > 9999999999LL)
        m_d->fail(QStringLiteral("Dokument PDF %1 je příliš velký.").arg(m_d->file.fileName()));
    m_d->writeTrailer(info);
    m_d->flush();

    if (!m_d->failed()) {
        m_d->file.close();
        if (m_d->file.error() != QFileDevice::NoError)
            m_d->fail(ioError(m_d->file.fileName(), m_d->file.errorString()));
    }
    if (m_d->failed()) {
        error = m_d->error;
        discard();
        return false;
    }
    m_d->open = false;
    m_d->resetDocument();
    return true;
}

void PdfStream::discard()
{
    if (!m_d->open)
        return;
    m_d->file.close();
    // Only a regular file is removed: a document written into a pipe or device leaves it be.
    if (QFileInfo(m_d->file.fileName()).isFile())
        m_d->file.remove();
    m_d->open = false;
    m_d->resetDocument();
}
