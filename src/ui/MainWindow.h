#pragma once

#include "mailstore/AttachmentList.h"
#include "mailstore/MailStore.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class AttachmentGridModel;
class DestinationFolderWindow;
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
class TFormInfo;
class TMRUManager;
class TSettings;
class TStringLoader;

// The main window: three pages (starting folder, attachments, options), the File
// and Edit menus, a tool bar and a status bar. It owns the long-lived settings,
// the attachment list, the language loader and the recent files list.
// Its language-file section keeps the name TForm1; registry key ...\Quillbrook\main.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The window's section in the language file.
    static constexpr QLatin1String languageSection{"TForm1"};

    explicit MainWindow(mailstore::ApplicationFactory stores, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Operations the hand-over steps and the jobs reach.
    void showStatusText(const QString &text);
    void syncGridRows();
    void clearAllData();

    void setTitle();
    void setModified(bool value);
    void changeOccured() { setModified(true); }
    bool isModified() const { return Modified; }
    void settingsToControls();
    void controlsToSettings(TSettings &target) const;

    // Opens a settings file, as File > Open does; errors are shown in a message box.
    bool openFile(const QString &fileName);
    bool SaveFile(const QString &fileName);

    // True while an analysis or a job runs: the list is theirs until they end.
    bool workerRunning() const;
    // Asks the running workers to stop and waits for them, for the program's end.
    void stopWorkers();

    TSettings &settings() const { return *m_settings; }
    AttachmentList &attachmentList() { return m_list; }
    AttachmentGridModel &gridModel() const { return *m_model; }
    TStringLoader *stringLoader() const { return m_loader.get(); }
    DestinationFolderWindow *destinationFolderWindow() const { return m_destinationFolderWindow; }

    // The window's controls, named as the language file knows them.
    QTabWidget *PageControl;
    QWidget *Emails;
    QWidget *attachmentsSheet;
    QWidget *TabSheet1;
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
    QMenu *Recentfiles1;
    QAction *Open1;
    QAction *Save1;
    QAction *Saveas1;
    QAction *Exit1;
    QAction *SelectAll1;
    QAction *openTool;
    QAction *saveTool;
    QFileDialog *OpenDialog;
    QFileDialog *SaveDialog;
    QFileDialog *browseLog;
    TMRUManager *recentFiles;
    TFormInfo *FormInfo1;

    // Commands, public so tests and the D-Bus service reach them as the menus do.
    void emailsFromClick();
    void messageSourceClick();
    void browseFromFolderClick();
    void analyseButtonClick();
    void deleteAttachmentsClick();
    void detachAttachmentsClick();
    void copyAttachmentsClick();
    void startJob(bool remove, bool save);
    void loggingClick();
    void logFilenameChange();
    void browseLogFileClick();
    void Open1Click();
    void Save1Click();
    void Saveas1Click();
    void recentFilesClick(const QString &fileName);
    void SelectAll1Click();
    void attachGridSelectChanged();
    void attachGridHeadingClick(int dataColumn);
    void attachGridDblClickCell(int dataRow);

    // The questions the window asks; tests answer them through the message boxes.
    enum class Answer { Yes, No, Cancel };
    Answer askSaveChanges();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();
    void buildPages();
    QWidget *buildStartingFolderPage();
    QWidget *buildAttachmentsPage();
    QWidget *buildOptionsPage();
    void afterCreate();
    void showError(const QString &message);
    void watchWorker(QThread *worker);
    void updateWorkerCommands();
    std::unique_ptr<TSettings> workerSettings() const;

    mailstore::ApplicationFactory m_stores;
    std::unique_ptr<TStringLoader> m_loader;
    AttachmentList m_list;
    AttachmentGridModel *m_model;
    TSettings *m_settings;
    GuiHost *m_host;
    QPointer<MailFolderChooser> m_mailFolderChooser;
    DestinationFolderWindow *m_destinationFolderWindow;
    QList<QPointer<QThread>> m_workers;
    QLabel *m_statusText;

    bool Modified = false;
    QString SourceFolderEntryId;
    QString DestinationMailFolderId;
    QString SaveFolder;
    bool m_updatingControls = false;
};
