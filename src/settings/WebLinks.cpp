#include "WebLinks.h"

#include "TRegistry.h"
#include "TSettings.h"

namespace {

QString textOr(const TRegistry &registry, const QString &name, const QString &fallback)
{
    const QString text = readStringOr(registry, name, QString());
    return text.trimmed().isEmpty() ? fallback : text.trimmed();
}

} // namespace

WebLinks WebLinks::defaults()
{
    return {QStringLiteral("https://www.vellmor.com/quillbrook/"),
            QStringLiteral("https://www.vellmor.com/"),
            QStringLiteral("https://www.vellmor.com/support/")};
}

WebLinks WebLinks::fromRegistry()
{
    WebLinks links = defaults();
    TRegistry registry(TRegistry::Root::LocalMachine);
    if (!registry.OpenKey(TSettings::valueName(0), false))
        return links;
    links.productHomePage = textOr(registry, productHomePageValue, links.productHomePage);
    links.makerHomePage = textOr(registry, makerHomePageValue, links.makerHomePage);
    links.supportPage = textOr(registry, supportPageValue, links.supportPage);
    return links;
}
