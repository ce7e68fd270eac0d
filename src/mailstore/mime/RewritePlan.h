#pragma once

#include "ParsedEmail.h"

#include <QString>

#include <map>
#include <set>
#include <vector>

namespace mime {

// One change to the original bytes: [begin, end) is replaced by the bytes that
// write() produces (begin == end inserts).
struct Splice
{
    qsizetype begin = 0;
    qsizetype end = 0;
    std::function<void(const ByteSink &)> write;
    // Content that a boundary line may follow: when what follows in the new email
    // does not start with a line break, this one is written after it.
    QByteArray breakAfter;
};

// A span of the original bytes and the span of the rewritten ones that took its place.
struct ChangedSpan
{
    Span original;
    Span rewritten;
};

// How an email is rewritten, and what the result must read as.
struct RewritePlan
{
    std::vector<Splice> splices; // in the order of the data, not overlapping

    std::set<int> removedLeaves; // attachments removed, by node
    // Text part node -> its expected decoded content, in pieces (source bytes are
    // not copied).
    std::map<int, std::vector<QByteArray>> noteParts;
    std::vector<QByteArray> insertedParts; // whole new parts (headers and body), in order
    // Parts whose last header line the data cut short: their header lines, ended.
    std::map<int, QByteArray> endedHeaders;
    QByteArray topHeaderBlock; // the email's header lines after the change
    // The root became the first part of a new multipart/mixed: its Content-
    // header lines moved there.
    bool wrapped = false;
    QByteArray movedHeaderLines;
    // The root part was the removed attachment: the email is now the note alone.
    bool replacedRoot = false;
    QByteArray replacedRootBody;
};

// A note appended before, changed in every text part that holds it (its link moved).
struct NoteChange
{
    QString note;
    QString replacement;
};

// Plans the removal of the given attachments, the notes (empty: no note) and the note
// changes. Throws qb::MailStoreError when the change cannot be made safely.
RewritePlan planRewrite(const ParsedEmail &email, const std::vector<bool> &removed,
                        const QString &notes, const std::vector<NoteChange> &noteChanges = {});

} // namespace mime
