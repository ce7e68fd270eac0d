#pragma once

#include "SummaryReading.h"

#include <QByteArray>

#include <optional>

namespace maildir {

// One email file as the summary cache stores it: a checksum, the file's stamp, the text
// digest of its version (SummaryReading.h), the summary's texts, in UTF-16 so that reading
// them back is a copy, and the attachments' decoded sizes. The checksum covers the file's
// unique name and everything after it, so an entry that is damaged, or that is found under
// another name, is never believed.
QByteArray encodeEntry(const QString &uniqueName, const FileStamp &stamp,
                       const mailstore::EmailSummary &summary);
// Whether entry is one that encodeEntry made for this unique name.
bool entryHolds(const QString &uniqueName, const QByteArray &entry);
// The stamp of an entry that holds.
FileStamp entryStamp(const QByteArray &entry);
// The summary of an entry that holds, with the stamp's size, received time and version.
std::optional<mailstore::EmailSummary> decodeEntry(const QByteArray &entry);

} // namespace maildir
