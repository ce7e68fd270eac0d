#include "UsageText.h"

#include "common/Version.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const usage =
    "Usage: quillbrook [--store STORE]... [FILE.qbk]\n"
    "Lists every attachment of a mail folder and its subfolders, to delete, detach or\n"
    "save them in bulk.\n"
    "\n"
    "  --store STORE open this store, a Maildir, an IMAP account as\n"
    "                imaps://user@host[:port] or imap://user@host[:port] (STARTTLS), or\n"
    "                a configured store's name; repeat it for several (default: the mail\n"
    "                stores in the settings, else $MAILDIR, else ~/Maildir)\n"
    "  FILE.qbk      open this settings file; when Quillbrook runs already, that copy\n"
    "                opens it\n"
    "  -h, --help    print this text and exit\n"
    "  --version     print the version and exit\n"
    "\n"
    "The manual is in the program: Help > Contents (F1). The command-line tool:\n"
    "quillbrook-cli --help.\n";

} // namespace

std::optional<int> answerInformationOptions(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        // The value of --store is a store, whatever it is called.
        if (std::strcmp(argv[i], "--store") == 0) {
            ++i;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s (release %s)\n", qb::productName, qb::versionText,
                        qb::releaseStampText);
            return 0;
        }
    }
    return std::nullopt;
}
