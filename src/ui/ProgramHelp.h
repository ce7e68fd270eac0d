#pragma once

#include <QObject>
#include <QPointer>

class HelpWindow;
class QWidget;
class TStringLoader;

// The program's help: its contents, index and the topics of help contexts, shown in
// the help window. Each request first checks that the help collection and the manual
// are there; when one is missing it shows one error box naming that file, and nothing
// else happens.
class ProgramHelp : public QObject
{
    Q_OBJECT
public:
    // owner: the main window, which the help window belongs to.
    ProgramHelp(QWidget *owner, TStringLoader *loader, QString collectionPath);

    // Each returns whether help was shown.
    bool showContents();
    bool showIndex();
    // The topic of a help context; the contents when the manual has no such topic (then
    // false).
    bool showContext(int context);

    QString collectionPath() const { return m_collectionPath; }
    void setCollectionPath(const QString &path);
    // The help window, once a request has made it.
    HelpWindow *window() const;

private:
    // The help window, made at the first request; null (after the error box) when the
    // help is missing.
    HelpWindow *ready();

    QWidget *m_owner;
    TStringLoader *m_loader;
    QString m_collectionPath;
    QPointer<HelpWindow> m_window;
};
