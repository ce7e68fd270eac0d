// The main window's state and lifecycle: start-up, title, settings in and out, closing.
#include "MainWindow.h"

#include "AttachmentGridModel.h"
#include "DestinationFolderWindow.h"
#include "GridColumns.h"
#include "GuiHost.h"
#include "HelpMenu.h"
#include "Localise.h"
#include "MissingPasswords.h"
#include "PlainText.h"
#include "StatusWindow.h"
#include "TFormInfo.h"
#include "TMRUManager.h"
#include "UpdateCheck.h"
#include "common/Error.h"
#include "lang/TStringLoader.h"
#include "log/TLogManager.h"
#include "settings/TRegistry.h"
#include "settings/TSettings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

MainWindow::MainWindow(mailstore::ApplicationFactory stores, StorePasswords passwords,
                       QWidget *parent)
    : QMainWindow(parent), m_stores(std::move(stores)), m_passwords(std::move(passwords))
{
    setObjectName(QStringLiteral("Form1"));
    m_loader = std::make_unique<TStringLoader>(TStringLoader::defaultPath(),
                                               TStringLoader::installedPath());
    m_updateCheck = new UpdateCheck(m_loader.get(), this);
    m_model = new AttachmentGridModel(&m_list, this);
    m_host = new GuiHost(this);
    // The action log's failures (its file cannot be opened or written) show in an error box.
    TLogManager::setMessageSink(errorBoxesOf(m_host));
    // A language file that cannot be written is told of once, in a box that does not
    // hold up the look-up that met it (a job's log line, perhaps).
    m_loader->setWriteWarning([host = QPointer<HandOverHost>(m_host)](const QString &text) {
        if (host)
            host->post([host, text] {
                if (host)
                    host->showWarning(text);
            });
    });
    buildMenus();
    buildPages();
    // The Help menu's entries, the help button and the help contexts, before localising.
    new HelpMenu(this);
    updateWorkerCommands();
    m_statusText = plainLabel(new QLabel(this));
    m_statusText->setObjectName(QStringLiteral("statusText"));
    statusBar()->addWidget(m_statusText, 1);
    analysisSummary = plainLabel(new QLabel(this));
    analysisSummary->setObjectName(QStringLiteral("analysisSummary"));
    statusBar()->addPermanentWidget(analysisSummary);
    try {
        LocaliseForm(*m_loader, languageSection, this);
    } catch (const qb::Error &e) {
        showError(e.message());
    }

    recentFiles->loadRecentList(TSettings::valueName(21));
    pages->setCurrentWidget(startingFolderPage);
    m_settings = new TSettings(this);
    m_settings->loadFromRegistry();
    settingsToControls();

    setMinimumSize(600, 317);
    resize(600, 340);
    m_placement = new TFormInfo(this);
    m_placement->AppName = QStringLiteral("Quillbrook");
    m_placement->FormName = QStringLiteral("main");
    m_placement->Loaded();
    // Designed to open centred; a stored placement, even one that did not apply, keeps
    // the window where it is.
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!m_placement->explicitBounds() && screen)
        move(screen->availableGeometry().center() - frameGeometry().center());

    m_destinationFolderWindow = new DestinationFolderWindow(m_loader.get(), this);
    // An account's folders opened here (the folder chooser) ask for its password then.
    m_passwords.setAsker([this](const MailStoreEntry &account) -> std::optional<QString> {
        if (!providePassword(m_passwords, account, m_loader.get(), dialogParent()))
            return std::nullopt;
        return m_passwords.password(account);
    });
    QTimer::singleShot(0, this, &MainWindow::afterCreate);
}

MainWindow::~MainWindow()
{
    m_passwords.setAsker({});
    stopWorkers();
    // Without its window the host has nowhere to show them; from now on they go to stderr.
    TLogManager::setMessageSink(nullptr);
}

void MainWindow::afterCreate()
{
    recentFiles->saveRecentList(TSettings::valueName(21));
    m_updateCheck->afterStartUp();
}

void MainWindow::showError(const QString &message)
{
    plainBox(dialogParent(), QMessageBox::Critical, QApplication::applicationName(), message);
}

QWidget *MainWindow::dialogParent()
{
    const auto statusWindows = findChildren<StatusWindow *>(Qt::FindDirectChildrenOnly);
    for (auto it = statusWindows.crbegin(); it != statusWindows.crend(); ++it) {
        if ((*it)->isVisible())
            return *it;
    }
    return this;
}

void MainWindow::showStatusText(const QString &text)
{
    m_statusText->setText(text);
}

void MainWindow::showAnalysisResult(const QString &text)
{
    m_analysisComplete = true;
    showStatusText(text);
}

void MainWindow::setTitle()
{
    QString name = QFileInfo(m_settings->fileName).fileName();
    if (name.isEmpty())
        name = QStringLiteral("Untitled");
    if (m_modified)
        name += QStringLiteral(" (modified)");
    setWindowTitle(name + QStringLiteral(" - Quillbrook by Vellmor Software"));
}

void MainWindow::setModified(bool value)
{
    if (value == m_modified)
        return;
    m_modified = value;
    setTitle();
}

void MainWindow::settingsToControls()
{
    (m_settings->getFromDefaultFolder ? defaultInboxChoice : folderChoice)->setChecked(true);
    messageSource->setText(m_settings->fromFolderName);
    m_sourceFolderEntryId = m_settings->fromFolderEntryId;
    m_destinationMailFolderId = m_settings->entryId;
    m_saveFolder = m_settings->saveFolder;
    (m_settings->logToFile ? logToFileChoice : noLoggingChoice)->setChecked(true);
    logFilename->setText(m_settings->logFilename);
    emailsFromClick();
    loggingClick();
    setModified(false);
    setTitle();
}

void MainWindow::controlsToSettings(TSettings &target) const
{
    target.getFromDefaultFolder = defaultInboxChoice->isChecked();
    target.fromFolderName = messageSource->text();
    target.fromFolderEntryId = m_sourceFolderEntryId;
    target.entryId = m_destinationMailFolderId;
    target.saveFolder = m_saveFolder;
    target.logToFile = logToFileChoice->isChecked();
    target.logFilename = logFilename->text();
}

std::unique_ptr<TSettings> MainWindow::workerSettings() const
{
    auto copy = std::make_unique<TSettings>();
    controlsToSettings(*copy);
    return copy;
}

MainWindow::Answer MainWindow::askSaveChanges()
{
    const auto answer = QMessageBox::question(
        dialogParent(), QApplication::applicationName(), QStringLiteral("Save current settings?"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return answer == QMessageBox::Yes  ? Answer::Yes
           : answer == QMessageBox::No ? Answer::No
                                       : Answer::Cancel;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_modified) {
        const Answer answer = askSaveChanges();
        if (answer == Answer::Cancel) {
            event->ignore();
            return;
        }
        if (answer == Answer::Yes)
            save();
    }
    controlsToSettings(*m_settings);
    try {
        // One batch: closing writes the settings file once.
        TRegistry registry;
        registry.beginBatch();
        m_settings->saveToRegistry(registry);
        m_placement->Save(registry);
        m_gridColumns->save(registry);
        recentFiles->saveRecentList(registry, TSettings::valueName(21));
        registry.commit();
    } catch (const qb::Error &) {
        // Registry writes that fail on the way out are not worth stopping the close for.
    }
    stopWorkers();
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Analyze is the first page's default button: Enter that no control took runs it.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & ~Qt::KeypadModifier) &&
        pages->currentWidget() == startingFolderPage && analyseButton->isEnabled()) {
        analyseButton->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool MainWindow::event(QEvent *event)
{
    // A hint shows in the status bar; an empty one leaves it as it is.
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent *>(event)->tip();
        if (!tip.isEmpty())
            m_statusText->setText(tip);
        return true;
    }
    return QMainWindow::event(event);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == messageSource && event->type() == QEvent::MouseButtonPress &&
        messageSource->isEnabled()) {
        messageSourceClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::workerRunning() const
{
    return std::any_of(m_workers.begin(), m_workers.end(),
                       [](const auto &w) { return !w.isNull(); });
}

void MainWindow::watchWorker(QThread *worker)
{
    m_workers.append(worker);
    connect(worker, &QObject::destroyed, this, [this] {
        m_workers.removeAll(nullptr);
        updateWorkerCommands();
    });
    updateWorkerCommands();
}

void MainWindow::stopWorkers()
{
    if (!workerRunning())
        return;
    m_host->shutDown();
    for (const auto &worker : std::as_const(m_workers)) {
        if (worker)
            worker->requestInterruption();
    }
    // Steps already queued for this thread are run (and skipped) while waiting.
    QElapsedTimer waited;
    waited.start();
    while (workerRunning() && waited.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
