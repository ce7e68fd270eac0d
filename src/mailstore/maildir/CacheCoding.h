#pragma once

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <cstring>
#include <optional>

// How the summary cache writes numbers, texts and checksums into its blobs.
namespace maildir::coding {

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

inline void appendNumber(QByteArray &out, qint64 value)
{
    const qint64 little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&little), sizeof little);
}

inline qint64 numberAt(const QByteArray &entry, qsizetype at)
{
    return qFromLittleEndian<qint64>(entry.constData() + at);
}

inline void appendText(QByteArray &out, const QString &text)
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
    // A blob appendBytes wrote, sharing the memory of the one read: it lives no longer.
    std::optional<QByteArray> bytes()
    {
        const auto length = count();
        if (!length || m_entry.size() - m_at < qsizetype(*length))
            return std::nullopt;
        QByteArray part = QByteArray::fromRawData(m_entry.constData() + m_at, qsizetype(*length));
        m_at += qsizetype(*length);
        return part;
    }
    bool atEnd() const { return m_at == m_entry.size(); }

private:
    const QByteArray &m_entry;
    qsizetype m_at;
};

// A blob within a blob, after its length.
inline void appendBytes(QByteArray &out, const QByteArray &bytes)
{
    const auto length = qToLittleEndian(quint32(bytes.size()));
    out.append(reinterpret_cast<const char *>(&length), sizeof length);
    out.append(bytes);
}

} // namespace maildir::coding
