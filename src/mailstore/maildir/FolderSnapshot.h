#pragma once

#include "MaildirSession.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <vector>

namespace maildir {

// A folder as the summary cache keeps it once every one of its files was checked: its
// listing, and each listed file's entry (SummaryEntry.h's) or none. While the folder's
// cur/ and new/ keep their stamp, this is what reading the directories and looking up
// each file's row would give.
struct FolderSnapshot
{
    std::shared_ptr<const FolderListing> listing;
    std::vector<QByteArray> entries; // by position in the listing; empty when not known
    QByteArray bytes;                // what the entries' memory belongs to
};

// Takes the entries, letting each go once it is in: a large folder's are held once, not twice.
QByteArray encodeSnapshot(const FolderListing &listing, std::vector<QByteArray> entries);
// The snapshot those bytes hold, for a folder whose cur/ and new/ have this stamp; none
// when they fail their checksum or are not a snapshot.
std::optional<FolderSnapshot> decodeSnapshot(const QByteArray &bytes, const FolderStamp &stamp);

} // namespace maildir
