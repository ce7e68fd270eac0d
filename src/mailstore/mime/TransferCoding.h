#pragma once

#include <QByteArray>
#include <QString>

#include <gmime/gmime.h>

#include <functional>
#include <vector>

// Content-Transfer-Encoding, both ways, in pieces: a part of any size is decoded
// or encoded through small buffers.
namespace mime {

using ByteSink = std::function<void(QByteArrayView)>;

enum class Transfer {
    Identity, // none, 7bit, 8bit or binary: the bytes are the content
    Base64,
    QuotedPrintable,
    UUEncode,
    Unknown, // a name no reader knows: the bytes are kept as they are
};

Transfer transferOf(const QByteArray &contentTransferEncoding);

// Streams the decoded content to sink.
void decodeTo(QByteArrayView encoded, Transfer transfer, const ByteSink &sink);
QByteArray decoded(QByteArrayView encoded, Transfer transfer);

// Encodes the pieces, one after the other, as base64 or quoted-printable text
// with lines ending in lineBreak.
void encodeTo(const std::vector<QByteArrayView> &pieces, Transfer transfer,
              const QByteArray &lineBreak, const ByteSink &sink);
QByteArray encoded(QByteArrayView data, Transfer transfer, const QByteArray &lineBreak);

// Why the encoded text does not decode cleanly (characters outside the encoding,
// a cut-off last group), or an empty text when it does.
QString damageOf(QByteArrayView encoded, Transfer transfer);

} // namespace mime
