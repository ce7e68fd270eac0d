#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>

class QWidget;
class TRegistry;
class TStringLoader;

// Keeps a window's size, position and maximized state in the registry, under
// HKEY_CURRENT_USER\Software\<Company>\<AppName>\<FormName>, and restores them
// when the window is made again. Width and height are the outer size, frame
// included; a restored window is sized to fit that once its frame is known. A
// placement that would not fit on the screen the window is on is ignored, so a
// window saved on a larger screen opens as designed.
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

    // True once Load found a stored placement: the window then has explicit bounds and
    // is not centred, even when a value was missing and none was applied.
    bool explicitBounds() const { return m_explicitBounds; }

    // For a secondary window: localises it from its language-file section (it keeps its
    // own texts when the language file is broken; the main window reports that) and
    // restores its placement.
    static TFormInfo *prepare(QWidget *window, TStringLoader *loader, const QString &section,
                              const QString &appName, const QString &formName);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Sizes the owner to the stored outer size; until its frame is known, again on
    // each change of the owner.
    void fitOuterSize();

    QPointer<QWidget> m_owner;
    QSize m_outerSize; // restored, and not fitted to the frame yet
    bool m_explicitBounds = false;
};
