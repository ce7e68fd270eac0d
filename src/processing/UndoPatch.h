#pragma once

#include "mailstore/EmailRewrite.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <vector>

// What turns a rewritten email back into the original, byte for byte: for each span the
// rewrite changed, the bytes it took out. An attachment's encoded body is not kept
// where its saved file rebuilds it: the file's content, encoded again as the body was
// (base64 with the same line length, line breaks and last-line shape, or as it is),
// gives the same bytes.
namespace undo {

// How a saved file's content is written back as the body it was taken from.
struct BodyShape
{
    enum class Encoding { AsIs, Base64 };
    Encoding encoding = Encoding::AsIs;
    int lineLength = 0;   // base64 characters per line; 0: one line
    QByteArray lineBreak; // between lines: "\r\n" or "\n"
    QByteArray tail;      // after the last line: line breaks and blanks
};

// A saved file, named relative to the folder of saved files.
struct SavedFileRef
{
    QString path;
    QByteArray sha256; // 64 lower-case hexadecimal digits
    qint64 size = 0;
    bool created = false; // by the job; false when it found the same content there already
};

// A run of the bytes taken out: kept as they were, or rebuilt from a saved file.
struct RemovedPiece
{
    QByteArray bytes;
    int file = -1; // index into the email's saved files, or -1 for bytes
    BodyShape shape;
};

struct ReversedSpan
{
    qsizetype at = 0;     // where the rewrite's bytes start in the rewritten email
    qsizetype length = 0; // how many bytes the rewrite wrote there
    std::vector<RemovedPiece> removed;
};

// The body that shape makes of content; empty when shape cannot hold it.
QByteArray encodedBody(const QByteArray &content, const BodyShape &shape);

// The reversal of a rewrite. savedFiles: each removed attachment's saved file by its
// position in the original; the file's SHA-256 must be its decoded content's for the
// file to stand in for the body. Bodies that no shape rebuilds are kept as bytes.
std::vector<ReversedSpan> reversalOf(const mailstore::EmailRewrite &rewrite,
                                     const std::map<int, int> &fileOfPosition,
                                     const std::vector<SavedFileRef> &savedFiles);

// The content of the email's saved file at index, as the file holds it now; throws
// qb::Error when it cannot be read or is not the file recorded.
using SavedContent = std::function<QByteArray(int index)>;

// The original email, made from the rewritten one and given to sink in pieces. Throws
// qb::Error when the spans do not fit the rewritten bytes.
void writeOriginal(QByteArrayView rewritten, const std::vector<ReversedSpan> &spans,
                   const SavedContent &contentOf, const std::function<void(QByteArrayView)> &sink);
QByteArray rebuiltOriginal(QByteArrayView rewritten, const std::vector<ReversedSpan> &spans,
                           const SavedContent &contentOf);

} // namespace undo
