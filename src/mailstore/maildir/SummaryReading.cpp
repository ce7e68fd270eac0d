#include "SummaryReading.h"

#include "CacheCoding.h"
#include "mailstore/mime/DecodedSize.h"
#include "mailstore/mime/HeaderMemo.h"
#include "mailstore/mime/ParsedEmail.h"

#include <QCryptographicHash>

#include <sys/stat.h>

namespace maildir {

namespace {

// A larger file's buffer is given back once it is read: each reading thread keeps at
// most this much between emails.
constexpr qsizetype keptScratch = 8 << 20;

// A version's stamp, before its text digest; the digest's bytes, a SHA-256's first.
constexpr qsizetype stampSize = 3 * sizeof(qint64);
constexpr qsizetype digestSize = 16;

} // namespace

FileStamp FileStamp::of(const struct stat &info)
{
    return {qint64(info.st_size),
            qint64(info.st_mtim.tv_sec) * 1'000'000'000 + qint64(info.st_mtim.tv_nsec),
            qint64(info.st_ino)};
}

QDateTime FileStamp::receivedTime() const
{
    // Whole milliseconds, rounded towards the past as the seconds are.
    const qint64 ms = modifiedNs / 1'000'000 - (modifiedNs % 1'000'000 < 0 ? 1 : 0);
    return QDateTime::fromMSecsSinceEpoch(ms);
}

mailstore::EmailSummary summaryOf(const mime::ParsedEmail &email, const FileStamp &stamp)
{
    mailstore::EmailSummary summary;
    summary.subject = email.subject();
    summary.senderName = email.senderName();
    summary.size = stamp.size;
    summary.receivedTime = stamp.receivedTime();
    summary.attachmentNames.reserve(qsizetype(email.attachments().size()));
    summary.attachmentSizes.reserve(qsizetype(email.attachments().size()));
    for (const mime::AttachmentPart &part : email.attachments()) {
        summary.attachmentNames << part.filename;
        summary.attachmentSizes << mime::attachmentSizeOf(email, part.node);
    }
    summary.version = versionOf(stamp, textDigest(summary));
    return summary;
}

QByteArray textDigest(const mailstore::EmailSummary &summary)
{
    if (summary.attachmentNames.isEmpty())
        return {};
    QByteArray texts;
    coding::appendText(texts, summary.subject);
    coding::appendText(texts, summary.senderName);
    for (const QString &name : summary.attachmentNames)
        coding::appendText(texts, name);
    return QCryptographicHash::hash(texts, QCryptographicHash::Sha256).left(digestSize);
}

QByteArray versionOf(const FileStamp &stamp, const QByteArray &digest)
{
    if (digest.isEmpty())
        return {};
    QByteArray version;
    version.reserve(stampSize + digest.size());
    for (const qint64 number : {stamp.size, stamp.modifiedNs, stamp.inode})
        coding::appendNumber(version, number);
    return version + digest;
}

QByteArray digestOf(const QByteArray &version)
{
    return version.mid(stampSize);
}

mailstore::EmailSummary readSummary(const QString &path, mailstore::ReadingScratch &scratch,
                                    FileStamp *stamp)
{
    auto *memo = std::any_cast<std::shared_ptr<mime::HeaderMemo>>(&scratch.kept);
    if (!memo) {
        scratch.kept = std::make_shared<mime::HeaderMemo>();
        memo = std::any_cast<std::shared_ptr<mime::HeaderMemo>>(&scratch.kept);
    }
    QByteArray &buffer = scratch.buffer;
    struct stat info = {};
    mime::readEmailFile(path, buffer, &info);
    *stamp = FileStamp::of(info);
    mailstore::EmailSummary summary;
    {
        // The parsed email shares the buffer's bytes; it is gone before the buffer is reused.
        const mime::ParsedEmail email(buffer, memo->get());
        summary = summaryOf(email, *stamp);
    }
    if (buffer.capacity() > keptScratch)
        buffer = QByteArray();
    return summary;
}

} // namespace maildir
