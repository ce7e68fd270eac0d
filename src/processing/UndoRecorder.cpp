#include "UndoRecorder.h"

#include "SavedFileAccess.h"
#include "UndoIndex.h"
#include "common/Error.h"

#include <QCryptographicHash>
#include <QFileInfo>

namespace {

QByteArray hexSha256(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

UndoRecorder::UndoRecorder(QString root, QString action)
    : m_root(std::move(root)), m_action(std::move(action)),
      m_started(QDateTime::currentDateTimeUtc()), m_jobId(undo::newJobId(m_started))
{
}

QString UndoRecorder::recordPath() const
{
    return m_writer ? m_writer->path() : QString();
}

void UndoRecorder::watch(mailstore::Item &email, const QString &storeId, const QString &label,
                         const std::vector<SavedAttachment> &saved)
{
    m_pending = 0; // a save that failed after its email was recorded stored nothing
    undo::EmailRecord record;
    record.storeId = storeId;
    record.folderId = email.folderEntryId();
    record.entryId = email.entryId();
    record.label = label;
    record.attachments = int(saved.size());
    std::map<int, int> fileOfPosition;
    const QString root = m_root.endsWith(QLatin1Char('/')) ? m_root : m_root + QLatin1Char('/');
    for (const SavedAttachment &file : saved) {
        if (!file.path.startsWith(root))
            throw qb::Error(
                QStringLiteral("The saved file %1 is not below %2").arg(file.path, m_root));
        fileOfPosition[file.position] = int(record.files.size());
        record.files.push_back({file.path.mid(root.size()), file.sha256.toLatin1(),
                                QFileInfo(file.path).size(), file.created});
    }
    m_watched = email.watchNextSave([this, record = std::move(record), fileOfPosition](
                                        const mailstore::EmailRewrite &rewrite) mutable {
        this->record(rewrite, std::move(record), fileOfPosition);
    });
}

void UndoRecorder::record(const mailstore::EmailRewrite &rewrite, undo::EmailRecord email,
                          const std::map<int, int> &fileOfPosition)
{
    const QByteArray &original = rewrite.original.bytes();
    email.number = m_emails + 1;
    email.messageId =
        QString::fromUtf8(rewrite.original.tree().interpretedHeader(0, "Message-ID").trimmed());
    email.beforeSha256 = hexSha256(original);
    email.beforeSize = original.size();
    email.afterSha256 = hexSha256(rewrite.rewritten);
    email.afterSize = rewrite.rewritten.size();
    const undo::SavedContent fromDisk = [&](int index) {
        return undo::readSavedFile(m_root, email.files[size_t(index)]);
    };
    const auto proven = [&] {
        try {
            // Hashed as it is made: a large email is not held a third time.
            QCryptographicHash hash(QCryptographicHash::Sha256);
            undo::writeOriginal(rewrite.rewritten, email.spans, fromDisk,
                                [&](QByteArrayView piece) { hash.addData(piece); });
            return hash.result().toHex() == email.beforeSha256;
        } catch (const qb::Error &) {
            return false;
        }
    };
    email.spans = undo::reversalOf(rewrite, fileOfPosition, email.files);
    if (!proven()) {
        // A layout the files do not rebuild: the record keeps the bytes themselves.
        email.spans = undo::reversalOf(rewrite, {}, email.files);
        if (!proven())
            throw qb::Error(QStringLiteral("The change could not be recorded for undo"));
    }
    if (!m_writer) {
        m_writer = undo::RecordWriter::create(m_root, m_jobId, m_action, m_started);
        undo::addToIndex(m_writer->path());
    }
    m_writer->addEmail(email);
    m_emails = email.number;
    m_pending = email.number;
}

void UndoRecorder::stored(mailstore::Item &email)
{
    if (!std::exchange(m_watched, false) || m_pending == 0)
        return;
    m_writer->addStored(std::exchange(m_pending, 0), email.storedEntryId());
}
