#include "SummaryEntry.h"

#include "CacheCoding.h"

#include <QtEndian>

#include <cstring>

namespace maildir {

using namespace coding;

namespace {

// checksum, size, modification time, inode
constexpr qsizetype headerSize = 4 * sizeof(qint64);

quint64 checksumOf(const QString &uniqueName, const QByteArray &entry)
{
    Checksum sum;
    sum.add(uniqueName.constData(), size_t(uniqueName.size()) * sizeof(QChar));
    sum.add(entry.constData() + sizeof(qint64), size_t(entry.size()) - sizeof(qint64));
    return sum.value();
}

} // namespace

QByteArray encodeEntry(const QString &uniqueName, const FileStamp &stamp,
                       const mailstore::EmailSummary &summary)
{
    QByteArray entry;
    qsizetype textLength = summary.subject.size() + summary.senderName.size();
    for (const QString &name : summary.attachmentNames)
        textLength += name.size();
    entry.reserve(headerSize + 20 + 12 * (3 + summary.attachmentNames.size()) + 2 * textLength);
    appendNumber(entry, 0); // the checksum, once the rest is there
    appendNumber(entry, stamp.size);
    appendNumber(entry, stamp.modifiedNs);
    appendNumber(entry, stamp.inode);
    // Kept, not worked out at each reading: a folder's entries are read far more often.
    appendBytes(entry, summary.version.isEmpty() ? textDigest(summary) : digestOf(summary.version));
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
    return {numberAt(entry, 8), numberAt(entry, 16), numberAt(entry, 24)};
}

std::optional<mailstore::EmailSummary> decodeEntry(const QByteArray &entry)
{
    TextReader reader(entry, headerSize);
    const auto digest = reader.bytes();
    auto subject = digest ? reader.text() : std::nullopt;
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
    summary.version = versionOf(stamp, *digest);
    return summary;
}

} // namespace maildir
