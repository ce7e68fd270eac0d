#include "ReplacementJournal.h"

#include "common/Error.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>

namespace imapstore {

namespace {

// One line per entry, tab-separated; the mailbox and Message-ID percent-encoded, so no
// tab or line break in them can break a line. An older journal's lines end at the size.
QByteArray lineOf(const PendingReplacement &entry)
{
    return entry.mailbox.toUtf8().toPercentEncoding() + '\t' +
           QByteArray::number(entry.uidValidity) + '\t' + QByteArray::number(entry.oldUid) + '\t' +
           (entry.oldWasDeleted ? "1" : "0") + '\t' + entry.messageId.toPercentEncoding() + '\t' +
           QByteArray::number(entry.newSize) + '\t' + QByteArray::number(entry.crlfSize) + '\t' +
           entry.sha256 + '\n';
}

std::optional<PendingReplacement> entryOf(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 6 && fields.size() != 8)
        return std::nullopt;
    PendingReplacement entry;
    bool validityOk = false;
    bool uidOk = false;
    bool sizeOk = false;
    bool crlfSizeOk = true;
    entry.mailbox = QString::fromUtf8(QByteArray::fromPercentEncoding(fields.at(0)));
    entry.uidValidity = fields.at(1).toLongLong(&validityOk);
    entry.oldUid = fields.at(2).toLongLong(&uidOk);
    entry.oldWasDeleted = fields.at(3) == "1";
    entry.messageId = QByteArray::fromPercentEncoding(fields.at(4));
    entry.newSize = fields.at(5).toLongLong(&sizeOk);
    entry.crlfSize = entry.newSize;
    if (fields.size() == 8) {
        entry.crlfSize = fields.at(6).toLongLong(&crlfSizeOk);
        entry.sha256 = fields.at(7);
    }
    if (!validityOk || !uidOk || !sizeOk || !crlfSizeOk || entry.oldUid <= 0 ||
        entry.mailbox.isEmpty())
        return std::nullopt;
    return entry;
}

} // namespace

QByteArray copyDigest(QByteArrayView bytes, qint64 *crlfSize)
{
    // Servers that keep bare LFs as CR LF serve them so; the digest reads both alike.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 size = 0;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', start);
        if (lf < 0) {
            hash.addData(bytes.sliced(start));
            size += bytes.size() - start;
            break;
        }
        qsizetype end = lf;
        if (end > start && bytes[end - 1] == '\r')
            --end;
        hash.addData(bytes.sliced(start, end - start));
        hash.addData(QByteArrayView("\r\n"));
        size += end - start + 2;
        start = lf + 1;
    }
    if (crlfSize)
        *crlfSize = size;
    return hash.result().toHex();
}

ReplacementJournal::ReplacementJournal(QString path) : m_path(std::move(path)) {}

QString ReplacementJournal::pathFor(const QString &storeId)
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QByteArray key =
        QCryptographicHash::hash(storeId.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return state + QStringLiteral("/quillbrook/imap/") + QString::fromLatin1(key) +
           QStringLiteral(".journal");
}

std::vector<PendingReplacement> ReplacementJournal::pending() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<PendingReplacement> entries;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        if (const auto entry = entryOf(line))
            entries.push_back(*entry);
        else
            std::fprintf(stderr, "quillbrook: ignoring a damaged line of %s\n", qPrintable(m_path));
    }
    return entries;
}

void ReplacementJournal::add(const PendingReplacement &replacement)
{
    std::vector<PendingReplacement> entries = pending();
    entries.push_back(replacement);
    write(entries);
}

void ReplacementJournal::remove(const PendingReplacement &replacement)
{
    std::vector<PendingReplacement> entries = pending();
    const auto kept = std::remove(entries.begin(), entries.end(), replacement);
    if (kept == entries.end())
        return;
    entries.erase(kept, entries.end());
    if (entries.empty() && QFile::remove(m_path))
        return;
    write(entries);
}

void ReplacementJournal::write(const std::vector<PendingReplacement> &entries)
{
    const auto fail = [&](const QString &why) {
        throw qb::MailStoreError(
            QStringLiteral("Cannot write the journal of changes %1: %2").arg(m_path, why));
    };
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        fail(QStringLiteral("its folder cannot be made"));
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    for (const PendingReplacement &entry : entries)
        file.write(lineOf(entry));
    // QSaveFile flushes the new file to disk before it takes the old one's place.
    if (!file.commit())
        fail(file.errorString());
}

} // namespace imapstore
