#include "HelpBrowser.h"

#include <QDesktopServices>
#include <QHelpEngineCore>

namespace {

bool inManual(const QUrl &url)
{
    return url.scheme() == QLatin1String("qthelp");
}

} // namespace

HelpBrowser::HelpBrowser(QHelpEngineCore *engine, QWidget *parent)
    : QTextBrowser(parent), m_engine(engine)
{
    setObjectName(QStringLiteral("helpPage"));
    setOpenLinks(true);
    setOpenExternalLinks(false);
}

QVariant HelpBrowser::loadResource(int type, const QUrl &name)
{
    // A page's style sheet and pictures are named relative to the page.
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    if (!inManual(url))
        return QTextBrowser::loadResource(type, name);
    const QByteArray data = m_engine->fileData(url);
    if (type == QTextDocument::ImageResource)
        return data;
    return QString::fromUtf8(data);
}

void HelpBrowser::doSetSource(const QUrl &url, QTextDocument::ResourceType type)
{
    if (url.isEmpty() || inManual(url)) {
        QTextBrowser::doSetSource(url, type);
        return;
    }
    QDesktopServices::openUrl(url);
}
