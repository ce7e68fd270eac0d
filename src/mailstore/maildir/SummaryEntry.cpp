#include "SummaryEntry.h"

#include <QtEndian>

#include <cstring>

namespace maildir {

namespace {

// checksum, size, modification time
constexpr qsizetype headerSize = 3 * sizeof(qint64);

// 64-bit FNV-1a, a word at a time.
class Checksum
{
public:
    void add(const void *data, size_t size)
    {
        const auto *bytes = static_cast<const unsigned char *>(data);
        for (; size >= 8; bytes += 8, size -= 8) {
            quint64 word;
            std::memcpy(&word, bytes, 8);
            mix(word);
        }
        quint64 tail = 0;
        std::memcpy(&tail, bytes, size);
        mix(tail ^ (quint64(size) << 56));
    }
    quint64 value() const { return m_hash; }

private:
    void mix(quint64 word)
    {
        m_hash ^= word;
        m_hash *= 0x100000001b3ULL;
        m_hash ^= m_hash >> 29;
    }
    quint64 m_hash = 0xcbf29ce484222325ULL;
};

quint64 checksumOf(const QString &uniqueName, const QByteArray &entry)
{
    Checksum sum;
    sum.add(uniqueName.constData(), size_t(uniqueName.size()) * sizeof(QChar));
    sum.add(entry.constData() + sizeof(qint64), size_t(entry.size()) - sizeof(qint64));
    return sum.value();
}

void appendNumber(QByteArray &out, qint64 value)
{
    const qint64 little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&little), sizeof little);
}

qint64 numberAt(const QByteArray &entry, qsizetype at)
{
    return qFromLittleEndian<qint64>(entry.constData() + at);
}

void appendText(QByteArray &out, const QString &text)
{
    const auto length = qToLittleEndian(quint32(text.size()));
    out.append(reinterpret_cast<const char *>(&length), sizeof length);
    QString little = text;
    if (QSysInfo::ByteOrder == QSysInfo::BigEndian)
        qToLittleEndian<char16_t>(text.utf16(), text.size(), little.data());
    out.append(reinterpret_cast<const char *>(little.constData()),
               text.size() * qsizetype(sizeof(QChar)));
}

// Reads the texts of an entry in order; fails for good at the first that overruns it.
class TextReader
{
public:
    TextReader(const QByteArray &entry, qsizetype at) : m_entry(entry), m_at(at) {}

    std::optional<quint32> count()
    {
        if (m_entry.size() - m_at < qsizetype(sizeof(quint32)))
            return std::nullopt;
        const quint32 value = qFromLittleEndian<quint32>(m_entry.constData() + m_at);
        m_at += sizeof(quint32);
        return value;
    }
    std::optional<qint64> number()
    {
        if (m_entry.size() - m_at < qsizetype(sizeof(qint64)))
            return std::nullopt;
        const qint64 value = numberAt(m_entry, m_at);
        m_at += sizeof(qint64);
        return value;
    }
    std::optional<QString> text()
    {
        const auto length = count();
        if (!length || (m_entry.size() - m_at) / qsizetype(sizeof(QChar)) < qsizetype(*length))
            return std::nullopt;
        QString text(qsizetype(*length), Qt::Uninitialized);
        std::memcpy(text.data(), m_entry.constData() + m_at, *length * sizeof(QChar));
        if (QSysInfo::ByteOrder == QSysInfo::BigEndian)
            qFromLittleEndian<char16_t>(text.utf16(), text.size(), text.data());
        m_at += qsizetype(*length * sizeof(QChar));
        return text;
    }
    bool atEnd() const { return m_at == m_entry.size(); }

private:
    const QByteArray &m_entry;
    qsizetype m_at;
};

} // namespace

QByteArray encodeEntry(const QString &uniqueName, const FileStamp &stamp,
                       const mailstore::EmailSummary &summary)
{
    QByteArray entry;
    qsizetype textLength = summary.subject.size() + summary.senderName.size();
    for (const QString &name : summary.attachmentNames)
        textLength += name.size();
    entry.reserve(headerSize + 12 * (3 + summary.attachmentNames.size()) + 2 * textLength);
    appendNumber(entry, 0); // the checksum, once the rest is there
    appendNumber(entry, stamp.size);
    appendNumber(entry, stamp.modifiedNs);
    appendText(entry, summary.subject);
    appendText(entry, summary.senderName);
    const auto names = qToLittleEndian(quint32(summary.attachmentNames.size()));
    entry.append(reinterpret_cast<const char *>(&names), sizeof names);
    for (const QString &name : summary.attachmentNames)
        appendText(entry, name);
    // One size per name; a summary that lacks them stores 0, "unknown".
    for (qsizetype i = 0; i < summary.attachmentNames.size(); ++i)
        appendNumber(entry, summary.attachmentSizes.value(i));
    const quint64 sum = qToLittleEndian(checksumOf(uniqueName, entry));
    std::memcpy(entry.data(), &sum, sizeof sum);
    return entry;
}

bool entryHolds(const QString &uniqueName, const QByteArray &entry)
{
    return entry.size() >= headerSize &&
           quint64(numberAt(entry, 0)) == checksumOf(uniqueName, entry);
}

FileStamp entryStamp(const QByteArray &entry)
{
    return {numberAt(entry, 8), numberAt(entry, 16)};
}

std::optional<mailstore::EmailSummary> decodeEntry(const QByteArray &entry)
{
    TextReader reader(entry, headerSize);
    auto subject = reader.text();
    auto sender = subject ? reader.text() : std::nullopt;
    const auto names = sender ? reader.count() : std::nullopt;
    if (!names)
        return std::nullopt;
    mailstore::EmailSummary summary;
    summary.subject = std::move(*subject);
    summary.senderName = std::move(*sender);
    for (quint32 i = 0; i < *names; ++i) {
        auto name = reader.text();
        if (!name)
            return std::nullopt;
        summary.attachmentNames << std::move(*name);
    }
    summary.attachmentSizes.reserve(qsizetype(*names));
    for (quint32 i = 0; i < *names; ++i) {
        const auto size = reader.number();
        if (!size)
            return std::nullopt;
        summary.attachmentSizes << *size;
    }
    if (!reader.atEnd())
        return std::nullopt;
    const FileStamp stamp = entryStamp(entry);
    summary.size = stamp.size;
    summary.receivedTime = stamp.receivedTime();
    return summary;
}

} // namespace maildir
