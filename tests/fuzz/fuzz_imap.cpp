// Feeds arbitrary bytes, as a server would send them, to the IMAP response reader, then
// reads every FETCH it yields as the IMAP store does: structure, envelope and the rows of
// attachments. Nothing may crash or grow without bound; bad input is an error.
#include "common/Error.h"
#include "imap/BodyStructure.h"
#include "imap/ResponseParser.h"
#include "mailstore/imap/RemoteMessage.h"
#include "mailstore/mime/HeaderMemo.h"

#include <gmime/gmime.h>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_mime_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    // Small limits, so that the fuzzer reaches them.
    imap::ResponseParser parser({4096, 65536, 131072, 64});
    mime::HeaderMemo memo;
    try {
        // In two pieces, split where the first byte says, as reads split a stream.
        const size_t split = size > 0 ? data[0] % (size + 1) : 0;
        parser.feed(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(split)));
        parser.feed(
            QByteArrayView(reinterpret_cast<const char *>(data) + split, qsizetype(size - split)));
        while (const std::optional<imap::Response> response = parser.next()) {
            if (response->name != "FETCH")
                continue;
            try {
                imapstore::readRemoteMessage(*response, &memo);
            } catch (const qb::MailStoreError &) {
            }
            if (const imap::Value *structure = imap::fetchItem(*response, "BODYSTRUCTURE")) {
                try {
                    imapstore::attachmentsOf(imap::parseBodyStructure(*structure), &memo);
                } catch (const qb::MailStoreError &) {
                }
            }
        }
    } catch (const qb::MailStoreError &) {
        // A broken stream is refused: that is the reader doing its work.
    }
    return 0;
}
