#include "CheckUpdateCommand.h"

#include "CliSupport.h"
#include "common/Error.h"
#include "common/Version.h"
#include "update/HttpFetch.h"
#include "update/UpdateDate.h"
#include "update/UpdateTexts.h"
#include "update/VersionsFile.h"

#include <QCommandLineParser>

namespace {

constexpr int latestStatus = 0;
constexpr int newerStatus = 10;
constexpr int failedStatus = 1;

int check(const update::UpdateSettings &settings)
{
    using update::UpdateText;
    using update::updateText;
    using Result = update::VersionCheck::Result;
    const QString product = QLatin1String(qb::productName);

    update::HttpFetch fetch;
    fetch.URL = update::versionsFileUrl(settings.webSite, product, QLatin1String(qb::versionText));
    fetch.Agent = product;
    fetch.WaitThread = true;
    QString reply;
    QString failure;
    QObject::connect(&fetch, &update::HttpFetch::doneString, &fetch,
                     [&reply](const QString &text) { reply = text; });
    QObject::connect(&fetch, &update::HttpFetch::error, &fetch,
                     [&failure](const QString &message) { failure = message; });
    fetch.fetchText();
    if (!fetch.succeeded())
        return cli::usageError(updateText(UpdateText::ConnectError) + QStringLiteral(": ") +
                               failure);

    const update::VersionCheck check = update::checkVersions(reply, product, qb::releaseStamp);
    switch (check.result) {
    case Result::NotFound:
        return cli::usageError(updateText(UpdateText::NotFound, product));
    case Result::InvalidStamp:
        return cli::usageError(updateText(UpdateText::InvalidFormat, product, check.value));
    case Result::Current:
        cli::printOut(updateText(UpdateText::Latest, product) + QLatin1Char('\n'));
        return latestStatus;
    case Result::Newer:
        cli::printOut(updateText(UpdateText::UpdateAvailable, product) + QLatin1Char('\n') +
                      update::homePageUrl(settings.webSite) + QLatin1Char('\n'));
        return newerStatus;
    }
    return failedStatus;
}

} // namespace

QString versionLine()
{
    return QStringLiteral("%1 %2 (release %3)")
        .arg(QLatin1String(qb::productName), QLatin1String(qb::versionText),
             QLatin1String(qb::releaseStampText));
}

int runCheckUpdateCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Asks the maker's web site whether a newer release exists. Exit status: "
                       "0 this is the latest release, 10 a newer one exists, 1 the check "
                       "failed. The web site is the \"Web site\" value of the machine settings."));
    if (const auto done = cli::parseOptions(parser, arguments))
        return *done;
    try {
        return check(update::UpdateSettings::read());
    } catch (const qb::Error &e) {
        // A numbered text of the language file that cannot be read or filled in.
        return cli::usageError(e.message());
    }
}
