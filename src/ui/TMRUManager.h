#pragma once

#include "settings/TRecentStrings.h"

#include <QObject>
#include <QPointer>

class QMenu;

// Shows the recent files as the entries of a submenu ("&1 path"), rebuilt on every change;
// the submenu is enabled exactly when it has entries. A click is reported, and the
// entry stays where it is until the file has been opened.
class TMRUManager : public QObject
{
    Q_OBJECT
public:
    // The widest an entry's path is shown, in pixels.
    static constexpr int captionWidth = 420;

    TMRUManager(QMenu *recentMenu, QObject *parent);

    void addRecent(const QString &path);
    void loadRecentList(const QString &key);
    void saveRecentList(const QString &key) const;
    void saveRecentList(TRegistry &registry, const QString &key) const;
    const TRecentStrings &list() const { return m_list; }

Q_SIGNALS:
    void clicked(const QString &recentName, const QString &caption, qint32 userData);

private:
    void rebuild();

    QPointer<QMenu> m_menu;
    TRecentStrings m_list;
};
