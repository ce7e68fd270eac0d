#pragma once

#include "mailstore/MailStore.h"
#include "processing/UndoHistory.h"

#include <QDialog>
#include <QStringList>

#include <optional>
#include <vector>

class HandOverHost;
class QLabel;
class QPushButton;
class QThread;
class QTreeWidget;
class TStringLoader;

// Edit > Job history: the detach and save jobs that kept an undo record, newest first,
// with what each changed; the user's own list of records, and the records kept in any
// folder of saved files the user opens. Put back asks first, then closes the window
// with the job chosen, which start() then undoes. Also the question and the start of
// Edit > Undo, which takes the newest job that has emails left to put back.
class JobHistoryWindow : public QDialog
{
    Q_OBJECT
public:
    // The window's section in the language file; its questions and messages are there too.
    static constexpr QLatin1String languageSection{"TJobHistoryForm"};

    JobHistoryWindow(TStringLoader *loader, QWidget *parent);

    // Shows the user's recorded jobs; the job whose Put back the user confirmed, or
    // nothing when the window was closed.
    std::optional<undo::JobRecord> choose();

    // Edit > Undo: the newest recorded job with emails left to put back, once the user
    // agreed; when there is none, says so (and that delete jobs keep no record).
    static std::optional<undo::JobRecord> newestToUndo(TStringLoader *loader, QWidget *parent);
    // Asks whether to put the job's emails back, saying what goes back and from where.
    // newerUnreadable: why a newer record cannot be read, told beside; empty for none.
    static bool confirmPutBack(const undo::RecordedJob &job, TStringLoader *loader, QWidget *parent,
                               const QString &newerUnreadable = {});
    // Starts putting the job's emails back with a status window and Cancel; the status
    // window and the worker free themselves when done. logFile: the action log, or empty.
    static QThread *start(const undo::JobRecord &job, TStringLoader *loader, HandOverHost *host,
                          const mailstore::ApplicationFactory &stores, const QString &logFile,
                          QWidget *parent);

    QTreeWidget *jobList;
    QLabel *noteLabel;
    QPushButton *putBackButton;
    QPushButton *openFolderButton;
    QPushButton *closeButton;

private:
    void openFolderClick();
    void putBackClick();
    // Lists the records; selects the newest job of toSelect, else the newest job.
    void fill(const QStringList &toSelect);
    void selectionChanged();
    const undo::RecordedJob *selectedJob() const;

    TStringLoader *m_loader;
    QStringList m_records;
    std::vector<undo::RecordedJob> m_jobs;
    std::optional<undo::JobRecord> m_chosen;
};
