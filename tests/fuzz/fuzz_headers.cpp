// Feeds arbitrary bytes to the header decoders: encoded words, sender names and
// parameters. Nothing may crash, and every result is valid text.
#include "mailstore/mime/HeaderText.h"
#include "mailstore/mime/MimeParameter.h"
#include "mailstore/mime/SenderName.h"

#include <gmime/gmime.h>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_mime_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QString &text : {mime::decodeHeaderText(bytes), mime::senderName(bytes)}) {
        if (!text.isValidUtf16())
            std::abort();
    }
    mime::parameterValue(bytes, "filename");
    mime::parameterValue(bytes, "name");
    return 0;
}
