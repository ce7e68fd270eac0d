#pragma once

#include "mailstore/MailStore.h"
#include "processing/DetachLog.h"

#include <QDialog>

#include <optional>
#include <vector>

class HandOverHost;
class QLabel;
class QThread;
class TStringLoader;

// Edit > Undo detach: asks for the action log of earlier detaches, says how many
// attachments it records and, once the user agrees, puts them back into their emails
// on a worker thread (TReattachThread) with a status window and Cancel, as a job runs.
class UndoDetachWindow : public QDialog
{
    Q_OBJECT
public:
    // The window's section in the language file; the log file dialog's texts are there too.
    static constexpr QLatin1String languageSection{"TUndoDetachForm"};

    struct Chosen
    {
        QString logFile;
        std::vector<DetachRecord> records;
    };

    UndoDetachWindow(TStringLoader *loader, QWidget *parent);

    // Asks for the log, starting at startLog, then for the go-ahead. Nothing when the
    // user cancels; a log that cannot be read or records no detach is said so.
    std::optional<Chosen> choose(const QString &startLog);
    // The second half of choose(), for a log already chosen.
    std::optional<Chosen> confirm(const QString &logFile);

    // Starts putting back what was chosen; the status window and the worker free
    // themselves when done.
    static QThread *start(const Chosen &chosen, TStringLoader *loader, HandOverHost *host,
                          const mailstore::ApplicationFactory &stores, QWidget *parent);

private:
    void localise(QObject *component);

    TStringLoader *m_loader;
    QLabel *m_question;
};
