#pragma once

#include <QObject>
#include <QPointer>

class QWidget;
class TRegistry;
class TStringLoader;

// Keeps a window's size, position and maximized state in the registry, under
// HKEY_CURRENT_USER\Software\<Company>\<AppName>\<FormName>, and restores them
// when the window is made again. A placement that would not fit on the screen the
// window is on is ignored, so a window saved on a larger screen opens as designed.
class TFormInfo : public QObject
{
    Q_OBJECT
public:
    // Owned by the window it keeps; FormName starts as the window's object name.
    explicit TFormInfo(QWidget *owner);

    bool AutoLoad = true;
    QString Company = QStringLiteral("Vellmor Software");
    QString AppName; // empty: the program file's name
    QString FormName;
    bool recordSize = true;
    bool recordPosition = true;

    // Called once the owner has been built: Load when AutoLoad.
    void Loaded();
    void defaultValues();
    void Load();
    // Throws qb::Error "Failed to set data for '<name>'" when the registry refuses.
    void Save();
    // The same into an open batch of registry, which the caller commits.
    void Save(TRegistry &registry);

    QString key() const;

    // For a secondary window: localises it from its language-file section (it keeps its
    // own texts when the language file is broken; the main window reports that) and
    // restores its placement.
    static TFormInfo *prepare(QWidget *window, TStringLoader *loader, const QString &section,
                              const QString &appName, const QString &formName);

private:
    QPointer<QWidget> m_owner;
};
