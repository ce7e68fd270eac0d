#pragma once

#include <QTextBrowser>

class QHelpEngineCore;

// Shows the manual's pages, read from the help collection (qthelp:// addresses). A
// link that leads out of the manual (a web page, a file, a mail address) opens with
// the program the desktop chooses for it, and the page shown stays.
class HelpBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    HelpBrowser(QHelpEngineCore *engine, QWidget *parent = nullptr);

    QVariant loadResource(int type, const QUrl &name) override;

protected:
    void doSetSource(const QUrl &url, QTextDocument::ResourceType type) override;

private:
    QHelpEngineCore *m_engine;
};
