#include "FolderSnapshot.h"

#include "CacheCoding.h"

#include <utility>

namespace maildir {

using namespace coding;

namespace {

quint64 checksumOf(const QByteArray &bytes)
{
    Checksum sum;
    sum.add(bytes.constData() + sizeof(qint64), size_t(bytes.size()) - sizeof(qint64));
    return sum.value();
}

} // namespace

QByteArray encodeSnapshot(const FolderListing &listing, std::vector<QByteArray> entries)
{
    entries.resize(listing.files.size());
    qsizetype size = 3 * qsizetype(sizeof(qint64));
    for (size_t i = 0; i < listing.files.size(); ++i) {
        size += 3 * qsizetype(sizeof(quint32)) + entries[i].size() +
                (listing.files[i].uniqueName.size() + listing.files[i].relativePath.size()) *
                    qsizetype(sizeof(QChar));
    }
    QByteArray out;
    out.reserve(size);
    appendNumber(out, 0); // the checksum, once the rest is there
    appendNumber(out, qint64(listing.files.size()));
    for (size_t i = 0; i < listing.files.size(); ++i) {
        appendText(out, listing.files[i].uniqueName);
        appendText(out, listing.files[i].relativePath);
        appendBytes(out, std::exchange(entries[i], QByteArray()));
    }
    appendNumber(out, qint64(listing.skipped.size()));
    for (const SkippedEntry &entry : listing.skipped) {
        appendText(out, entry.path);
        appendText(out, entry.reason);
    }
    const qint64 sum = qint64(checksumOf(out));
    const qint64 little = qToLittleEndian(sum);
    std::memcpy(out.data(), &little, sizeof little);
    return out;
}

std::optional<FolderSnapshot> decodeSnapshot(const QByteArray &bytes, const FolderStamp &stamp)
{
    if (bytes.size() < qsizetype(2 * sizeof(qint64)) ||
        quint64(numberAt(bytes, 0)) != checksumOf(bytes))
        return std::nullopt;
    FolderSnapshot snapshot;
    snapshot.bytes = bytes;
    auto listing = std::make_shared<FolderListing>();
    listing->stamp = stamp;
    listing->stampTellsAll = true; // no other listing is confirmed
    TextReader reader(snapshot.bytes, sizeof(qint64));
    const auto files = reader.number();
    // Each file takes at least its three lengths: a count beyond that is no snapshot's.
    if (!files || *files < 0 || *files > snapshot.bytes.size() / 12)
        return std::nullopt;
    listing->files.reserve(size_t(*files));
    snapshot.entries.reserve(size_t(*files));
    listing->indexOfUnique.reserve(*files);
    for (qint64 i = 0; i < *files; ++i) {
        auto uniqueName = reader.text();
        auto relativePath = uniqueName ? reader.text() : std::nullopt;
        auto entry = relativePath ? reader.bytes() : std::nullopt;
        if (!entry)
            return std::nullopt;
        listing->indexOfUnique.insert(*uniqueName, int(i));
        listing->files.push_back({std::move(*uniqueName), std::move(*relativePath), int(i)});
        snapshot.entries.push_back(std::move(*entry));
    }
    const auto skipped = reader.number();
    if (!skipped || *skipped < 0 || *skipped > snapshot.bytes.size() / 8)
        return std::nullopt;
    for (qint64 i = 0; i < *skipped; ++i) {
        auto path = reader.text();
        auto reason = path ? reader.text() : std::nullopt;
        if (!reason)
            return std::nullopt;
        listing->skipped.push_back({std::move(*path), std::move(*reason)});
    }
    if (!reader.atEnd())
        return std::nullopt;
    snapshot.listing = std::move(listing);
    return snapshot;
}

} // namespace maildir
