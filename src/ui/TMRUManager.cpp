#include "TMRUManager.h"

#include "PlainText.h"

#include <QAction>
#include <QFontMetrics>
#include <QMenu>

TMRUManager::TMRUManager(QMenu *recentMenu, QObject *parent) : QObject(parent), m_menu(recentMenu)
{
    rebuild();
}

void TMRUManager::addRecent(const QString &path)
{
    m_list.addRecent(path);
    rebuild();
}

void TMRUManager::loadRecentList(const QString &key)
{
    m_list.loadFromRegistry(key);
    rebuild();
}

void TMRUManager::saveRecentList(const QString &key) const
{
    m_list.saveToRegistry(key);
}

void TMRUManager::saveRecentList(TRegistry &registry, const QString &key) const
{
    m_list.saveToRegistry(registry, key);
}

void TMRUManager::rebuild()
{
    if (!m_menu)
        return;
    m_menu->clear();
    const auto &entries = m_list.entries();
    const QFontMetrics metrics(m_menu->font());
    for (int i = 0; i < entries.size(); ++i) {
        // "&1 path" as one text: a tab would put the path in the shortcut column. A long
        // path loses its middle, which the hint still shows whole.
        const QString caption = TRecentStrings::caption(i, entries[i].text);
        const QString path = metrics.elidedText(caption.section(QLatin1Char('\t'), 1),
                                                Qt::ElideMiddle, captionWidth);
        QString escaped = path;
        escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *action = m_menu->addAction(caption.section(QLatin1Char('\t'), 0, 0) +
                                            QLatin1Char(' ') + escaped);
        action->setStatusTip(TRecentStrings::hint(entries[i].text));
        action->setToolTip(plainToolTip(action->statusTip()));
        connect(action, &QAction::triggered, this, [this, i, action] {
            const auto &current = m_list.entries();
            if (i >= 0 && i < current.size())
                Q_EMIT clicked(current[i].text, action->text(), current[i].userData);
        });
    }
    m_menu->setEnabled(!entries.isEmpty());
    m_menu->menuAction()->setEnabled(!entries.isEmpty());
}
