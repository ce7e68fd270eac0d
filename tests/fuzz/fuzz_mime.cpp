// Feeds arbitrary bytes to the MIME reader as an email, then removes every
// attachment and adds a note the way a job does. Nothing may crash or hang, and a
// change that is written must read back as intended: the writer and the reader
// never disagree about what an email holds.
#include "common/Error.h"
#include "mailstore/mime/EmailEdit.h"

#include <gmime/gmime.h>

#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

QByteArray readBack(int fd)
{
    QByteArray bytes;
    char buffer[65536];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, got);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_mime_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    mime::ParsedEmail email(bytes);
    email.subject();
    email.senderName();
    email.body();
    mime::EmailEdit edit{std::move(email)};
    if (!edit.refusal().isEmpty())
        return 0;
    const int fd = memfd_create("fuzz-email", MFD_CLOEXEC);
    try {
        for (int position = edit.attachmentCount(); position >= 1; --position) {
            ::ftruncate(fd, 0);
            edit.writeAttachment(position, fd);
            edit.removeAttachment(position);
        }
        edit.appendNote(
            QString::fromUtf8("\r\nAttached file n\xC3\xA4me.pdf deleted (not saved)\r\n"));
        ::ftruncate(fd, 0);
        ::lseek(fd, 0, SEEK_SET);
        edit.writeTo(fd);
    } catch (const qb::MailStoreError &) {
        ::close(fd); // refused as too unusual: nothing written, nothing to check
        return 0;
    }
    const QByteArray written = readBack(fd);
    ::close(fd);
    try {
        edit.verify(mime::ParsedEmail(written));
    } catch (const qb::MailStoreError &e) {
        std::fprintf(stderr, "written email reads differently: %s\n",
                     e.message().toUtf8().constData());
        std::abort();
    }
    return 0;
}
