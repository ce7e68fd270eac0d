#pragma once

#include <QObject>
#include <QPointer>

class QWidget;
class TStringLoader;
class UpdateWindow;

// The update check's part in the program's life: the update date for the whole run,
// read from the machine hive when the main window is created and written back after
// start-up, when the user postpones the check and when the main window goes; the
// automatic check at start-up; and the one update window, which the Help menu opens.
class UpdateCheck : public QObject
{
    Q_OBJECT
public:
    UpdateCheck(TStringLoader *loader, QWidget *mainWindow);
    // Closes the update window, stopping its fetch, and writes the update date.
    ~UpdateCheck() override;

    double updateDate() const { return m_updateDate; }
    void setUpdateDate(double date) { m_updateDate = date; }
    const QString &webSite() const { return m_webSite; }
    // Writes the update date and the program's folder to the machine hive; false when
    // it cannot be written.
    bool saveDate() const;

    // Start-up has finished: the date is written, then the automatic check runs.
    void afterStartUp();
    // When the date has come: a hidden update window fetches the versions file and
    // reports only a newer release.
    void autoCheckForUpdate();
    // The Help menu's entry: shows the update window, creating it when there is none.
    void showWindow();

    // The update window, nullptr when there is none.
    UpdateWindow *window() const;

private:
    UpdateWindow *createWindow();

    TStringLoader *m_loader;
    QWidget *m_mainWindow;
    double m_updateDate = 0;
    QString m_webSite;
    QPointer<UpdateWindow> m_window;
};
