#pragma once

#include "mailstore/MailStore.h"
#include "processing/DetachLog.h"

#include <QDialog>

#include <optional>
#include <vector>

class HandOverHost;
class QGridLayout;
class QLabel;
class QLineEdit;
class QThread;
class TStringLoader;

// Edit > Relink moved files: asks for the action log of earlier detaches and saves,
// then for the folder the saved files were in and the one they were moved to, and once
// the user agrees, rewrites the notes' links to the new folder on a worker thread
// (TRelinkThread) with a status window and Cancel, as a job runs.
class RelinkWindow : public QDialog
{
    Q_OBJECT
public:
    // The window's section in the language file; the file dialogs' texts are there too.
    static constexpr QLatin1String languageSection{"TRelinkForm"};

    struct Chosen
    {
        QString logFile;
        QString from;
        QString to;
        std::vector<DetachRecord> records; // those under from
    };

    RelinkWindow(TStringLoader *loader, QWidget *parent);

    // Asks for the log, starting at startLog, then for the folders. Nothing when the
    // user cancels; a log that cannot be read or records no saved file is said so.
    std::optional<Chosen> choose(const QString &startLog);
    // The second half of choose(), for a log already chosen.
    std::optional<Chosen> confirm(const QString &logFile);

    // Starts relinking what was chosen; the status window and the worker free
    // themselves when done.
    static QThread *start(const Chosen &chosen, TStringLoader *loader, HandOverHost *host,
                          const mailstore::ApplicationFactory &stores, QWidget *parent);

private:
    void localise(QObject *component);
    QLineEdit *addFolderField(QGridLayout *fields, const char *name, const QString &label,
                              const char *browseName);
    // Accepts when the folders name files of the log and a folder that is there.
    void relinkClicked();

    TStringLoader *m_loader;
    QLabel *m_question;
    QLineEdit *m_from;
    QLineEdit *m_to;
    std::vector<DetachRecord> m_records; // every saved file of the chosen log
};
