#pragma once

// The ui layer: the desktop program's windows (this main window, the status window,
// the mail-folder chooser, the destination folder window and the message window),
// the attachment grid's model, the host that runs the workers' hand-over steps on the
// main thread, localising from the language file, window placement and the recent
// files menu. It links the core libraries (common up to processing) and Qt Widgets.

#include "StorePasswords.h"
#include "mailstore/AttachmentList.h"
#include "mailstore/MailStore.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <vector>

class AttachmentGridModel;
struct AttachmentFilter;
class FilterBar;
class QBoxLayout;
class DestinationFolderWindow;
class GridColumns;
class GuiHost;
class MailFolderChooser;
class QAction;
class QButtonGroup;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableView;
class QThread;
class QToolButton;
class SummaryPage;
class TFormInfo;
class TMRUManager;
class TSettings;
class TStringLoader;
class UpdateCheck;
namespace undo {
struct JobRecord;
}

// The main window: four pages (starting folder, attachments, options, summary), the
// File and Edit menus, a tool bar and a status bar. It owns the long-lived settings,
// the attachment list, the language loader and the recent files list.
// Its language-file section keeps the name TForm1; registry key ...\Quillbrook\main.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The window's section in the language file.
    static constexpr QLatin1String languageSection{"TForm1"};

    // passwords: those of the IMAP accounts that stores opens.
    explicit MainWindow(mailstore::ApplicationFactory stores,
                        StorePasswords passwords = StorePasswords(), QWidget *parent = nullptr);
    ~MainWindow() override;

    // Operations the hand-over steps and the jobs reach.
    void showStatusText(const QString &text);
    // The analysis's result text: into the status bar, and the analysis is complete.
    void showAnalysisResult(const QString &text);
    void syncGridRows();
    void clearAllData();
    // A server refused the password of that account (its password key): it is
    // forgotten, and the user is offered to give it again now.
    void loginRefused(const QString &text, const QString &accountKey);

    void setTitle();
    void setModified(bool value);
    void changeOccured() { setModified(true); }
    bool isModified() const { return m_modified; }
    void settingsToControls();
    void controlsToSettings(TSettings &target) const;

    // Opens a settings file, as File > Open does; errors are shown in a message box.
    bool openFile(const QString &fileName);
    // openFile without its error box: throws qb::Error, and the window keeps its state.
    void loadSettingsFile(const QString &fileName);
    bool saveFile(const QString &fileName);

    // True while an analysis or a job runs: the list is theirs until they end.
    bool workerRunning() const;
    // Asks the running workers to stop and waits for them, for the program's end.
    void stopWorkers();

    TSettings &settings() const { return *m_settings; }
    AttachmentList &attachmentList() { return m_list; }
    AttachmentGridModel &gridModel() const { return *m_model; }
    TStringLoader *stringLoader() const { return m_loader.get(); }
    DestinationFolderWindow *destinationFolderWindow() const { return m_destinationFolderWindow; }
    UpdateCheck *updateCheck() const { return m_updateCheck; }

    // The window's controls. The language file knows them by their object names (given
    // where they are built), which stay as they were.
    QTabWidget *pages;
    QWidget *startingFolderPage;
    QWidget *attachmentsPage;
    QWidget *optionsPage;
    // Where the attachment bytes of the list are; a chosen bar filters the grid.
    SummaryPage *summaryPage;
    QGroupBox *emailsFrom;
    QRadioButton *defaultInboxChoice;
    QRadioButton *folderChoice;
    QLineEdit *messageSource;
    QToolButton *browseFromFolder;
    QPushButton *analyseButton;
    QTableView *attachGrid;
    QPushButton *deleteAttachments;
    QPushButton *detachAttachments;
    QPushButton *copyAttachments;
    QGroupBox *logging;
    QRadioButton *noLoggingChoice;
    QRadioButton *logToFileChoice;
    QLineEdit *logFilename;
    QToolButton *browseLogFile;
    // Beside the status bar's text: what the last analysis found, until the list is cleared.
    QLabel *analysisSummary;
    QMenu *recentFilesMenu;
    QAction *openAction;
    QAction *saveAction;
    QAction *saveAsAction;
    QAction *exitAction;
    QAction *selectAllAction;
    QAction *deleteAction;
    QAction *detachAction;
    QAction *saveAttachmentsAction;
    // Undo puts back the newest recorded detach or save job; Job history lists them.
    QAction *undoAction;
    QAction *jobHistoryAction;
    QAction *openEmailAction;
    QAction *relinkAction;
    QMenu *helpMenu;
    QAction *checkUpdatesAction;
    QAction *openTool;
    QAction *saveTool;
    QFileDialog *openDialog;
    QFileDialog *saveDialog;
    QFileDialog *browseLog;
    TMRUManager *recentFiles;

    // Commands, public so tests and the D-Bus service reach them as the menus do.
    void emailsFromClick();
    void messageSourceClick();
    void browseFromFolderClick();
    void analyseButtonClick();
    void deleteAttachmentsClick();
    void detachAttachmentsClick();
    void copyAttachmentsClick();
    void relinkClick();
    void startJob(bool remove, bool save);
    // Edit > Undo and Edit > Job history: each asks, then puts a recorded job back.
    void undoLastJobClick();
    void jobHistoryClick();
    void loggingClick();
    void logFilenameChange();
    void browseLogFileClick();
    void open();
    void save();
    void saveAs();
    void recentFilesClick(const QString &fileName);
    void selectAll();
    void attachGridSelectChanged();
    void attachGridHeadingClick(int dataColumn);
    void attachGridDblClickCell(int dataRow);
    // Opens the email of the grid's current row, as a double click does.
    void openEmail();
    void attachGridContextMenu(const QPoint &position);
    // Puts filter into the filter bar, which the grid then follows, and shows the grid.
    void applyFilter(const AttachmentFilter &filter);
    // The selected rows' records, top to bottom: what a job started now acts on.
    std::vector<std::shared_ptr<const TAttach>> selectedRecords() const;
    // Above the grid: the rows it shows (FilterBar.h).
    FilterBar *filterBar;
    // Beside the status bar's text: the emails the selection is in and what removing it frees.
    QLabel *selectionTotals;

    // The window a message box belongs to: the newest status window that shows (it
    // stays on top, and the box must come in front of it), else this one.
    QWidget *dialogParent();

    // The error box of a command that failed.
    void showError(const QString &message);

    // The questions the window asks; tests answer them through the message boxes.
    enum class Answer { Yes, No, Cancel };
    Answer askSaveChanges();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();
    void buildPages();
    QWidget *buildStartingFolderPage();
    QWidget *buildAttachmentsPage();
    QWidget *buildOptionsPage();
    void afterCreate();
    void watchWorker(QThread *worker);
    void updateWorkerCommands();
    void summariseAnalysis(int emails, bool cancelled);
    void buildFilterBar(QWidget *page, QBoxLayout *layout);
    void filterGrid(const AttachmentFilter &filter);
    // The type choices of the filter bar from the list's rows.
    void offerListTypes();
    void showSelectionTotals();
    std::unique_ptr<TSettings> workerSettings() const;
    void startUndo(const undo::JobRecord &job);

    mailstore::ApplicationFactory m_stores;
    StorePasswords m_passwords;
    TFormInfo *m_placement;
    GridColumns *m_gridColumns;
    std::unique_ptr<TStringLoader> m_loader;
    UpdateCheck *m_updateCheck;
    AttachmentList m_list;
    AttachmentGridModel *m_model;
    TSettings *m_settings;
    GuiHost *m_host;
    QPointer<MailFolderChooser> m_mailFolderChooser;
    DestinationFolderWindow *m_destinationFolderWindow;
    QList<QPointer<QThread>> m_workers;
    QLabel *m_statusText;
    bool m_analysisComplete = false;

    bool m_modified = false;
    QString m_sourceFolderEntryId;
    QString m_destinationMailFolderId;
    QString m_saveFolder;
    bool m_updatingControls = false;
};
