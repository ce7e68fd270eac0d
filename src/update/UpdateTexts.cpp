#include "UpdateTexts.h"

#include "common/Format.h"
#include "lang/TStringLoader.h"

namespace update {

namespace {

QString builtIn(UpdateText id)
{
    switch (id) {
    case UpdateText::Checking:
        return QStringLiteral("Checking for update...please wait");
    case UpdateText::ConnectError:
        return QStringLiteral("Error connecting to web site");
    case UpdateText::InvalidFormat:
        return QStringLiteral("%s date information found in invalid format %s");
    case UpdateText::UpdateAvailable:
        return QStringLiteral("A %s update is available - would you like to download it now?");
    case UpdateText::Latest:
        return QStringLiteral(
            "You already have the latest version of %s - no download is necessary");
    case UpdateText::NotFound:
        return QStringLiteral("%s update information not found");
    }
    return {};
}

} // namespace

QString updateText(UpdateText id, const QString &first, const QString &second)
{
    const QString pattern = LoadLangString(int(id), builtIn(id));
    return qb::format(pattern, {first, second});
}

} // namespace update
