#include "HelpWindow.h"

#include "HelpBrowser.h"
#include "HelpCollection.h"
#include "HelpContexts.h"
#include "TFormInfo.h"
#include "common/Error.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QUrl firstPage()
{
    return QUrl(HelpCollection::pageRoot + QStringLiteral("index.html"));
}

} // namespace

HelpWindow::HelpWindow(const QString &collectionFile, TStringLoader *loader, QWidget *parent)
    : QMainWindow(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Quillbrook Help"));
    // Wide enough for the pictures of the main window beside the contents.
    resize(1000, 680);
    m_engine = new QHelpEngine(collectionFile, this);
    m_engine->setUsesFilterEngine(true);
    m_engine->setupData();

    page = new HelpBrowser(m_engine, this);
    buildNavigation();
    auto *splitter = new QSplitter(this);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->addWidget(navigation);
    splitter->addWidget(page);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({240, 760});
    setCentralWidget(splitter);
    buildToolBar();
    connect(page, &QTextBrowser::sourceChanged, this, &HelpWindow::followInContents);
    connect(m_engine->contentModel(), &QHelpContentModel::contentsCreated, this, [this] {
        contents->expandToDepth(0);
        followInContents();
    });

    m_placement = TFormInfo::prepare(this, loader, languageSection, QStringLiteral("Quillbrook"),
                                     QStringLiteral("help"));
    // Opens centred the first time, then where the user left it.
    if (const QScreen *screen = QGuiApplication::primaryScreen();
        !m_placement->explicitBounds() && screen)
        move(screen->availableGeometry().center() - rect().center());
    // The search index is made in the background, the first time and after a new build.
    m_engine->searchEngine()->scheduleIndexDocumentation();
}

void HelpWindow::buildNavigation()
{
    navigation = new QTabWidget(this);
    navigation->setObjectName(QStringLiteral("navigation"));

    contents = m_engine->contentWidget();
    contents->setObjectName(QStringLiteral("contents"));
    contents->setHeaderHidden(true);
    connect(contents, &QHelpContentWidget::linkActivated, this, &HelpWindow::showPage);
    // One click on a topic opens it, as in any table of contents.
    connect(contents, &QTreeView::clicked, this, [this](const QModelIndex &index) {
        if (const QHelpContentItem *item = m_engine->contentModel()->contentItemAt(index))
            showPage(item->url());
    });
    navigation->addTab(contents, QStringLiteral("&Contents"));

    auto *indexPage = new QWidget;
    indexPage->setObjectName(QStringLiteral("indexPage"));
    auto *lookFor = new QLabel(QStringLiteral("&Look for:"), indexPage);
    lookFor->setObjectName(QStringLiteral("lookForLabel"));
    indexFilter = new QLineEdit(indexPage);
    indexFilter->setObjectName(QStringLiteral("indexFilter"));
    indexFilter->setClearButtonEnabled(true);
    lookFor->setBuddy(indexFilter);
    index = m_engine->indexWidget();
    index->setObjectName(QStringLiteral("index"));
    connect(indexFilter, &QLineEdit::textChanged, index,
            [this](const QString &text) { index->filterIndices(text); });
    connect(indexFilter, &QLineEdit::returnPressed, index, &QHelpIndexWidget::activateCurrentItem);
    connect(index, &QHelpIndexWidget::documentActivated, this,
            [this](const QHelpLink &document) { showPage(document.url); });
    connect(index, &QHelpIndexWidget::documentsActivated, this,
            [this](const QList<QHelpLink> &documents) {
                if (!documents.isEmpty())
                    showPage(documents.first().url);
            });
    auto *indexLayout = new QVBoxLayout(indexPage);
    indexLayout->addWidget(lookFor);
    indexLayout->addWidget(indexFilter);
    indexLayout->addWidget(index, 1);
    navigation->addTab(indexPage, QStringLiteral("&Index"));

    auto *searchPage = new QWidget;
    searchPage->setObjectName(QStringLiteral("searchPage"));
    QHelpSearchEngine *search = m_engine->searchEngine();
    searchQuery = new QHelpSearchQueryWidget(searchPage);
    searchQuery->setObjectName(QStringLiteral("searchQuery"));
    searchResults = search->resultWidget();
    searchResults->setObjectName(QStringLiteral("searchResults"));
    connect(searchQuery, &QHelpSearchQueryWidget::search, search,
            [this, search] { search->search(searchQuery->searchInput()); });
    connect(searchResults, &QHelpSearchResultWidget::requestShowLink, this, &HelpWindow::showPage);
    auto *searchLayout = new QVBoxLayout(searchPage);
    searchLayout->addWidget(searchQuery);
    searchLayout->addWidget(searchResults, 1);
    navigation->addTab(searchPage, QStringLiteral("&Search"));
}

void HelpWindow::buildToolBar()
{
    QToolBar *tools = addToolBar(QStringLiteral("Navigation"));
    tools->setObjectName(QStringLiteral("helpTools"));
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction *back = tools->addAction(style()->standardIcon(QStyle::SP_ArrowBack),
                                     QStringLiteral("&Back"), page, &QTextBrowser::backward);
    back->setObjectName(QStringLiteral("backAction"));
    back->setShortcut(QKeySequence::Back);
    back->setEnabled(false);
    connect(page, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    QAction *forward = tools->addAction(style()->standardIcon(QStyle::SP_ArrowForward),
                                        QStringLiteral("&Forward"), page, &QTextBrowser::forward);
    forward->setObjectName(QStringLiteral("forwardAction"));
    forward->setShortcut(QKeySequence::Forward);
    forward->setEnabled(false);
    connect(page, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    QAction *home = tools->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon),
                                     QStringLiteral("&Home"), this, &HelpWindow::showContents);
    home->setObjectName(QStringLiteral("homeAction"));
    home->setStatusTip(QStringLiteral("The first page of the manual"));
}

void HelpWindow::showContents()
{
    navigation->setCurrentWidget(contents);
    showPage(firstPage());
    contents->setFocus();
}

void HelpWindow::showIndex()
{
    navigation->setCurrentIndex(navigation->indexOf(index->parentWidget()));
    if (page->source().isEmpty())
        showPage(firstPage());
    bringToFront();
    indexFilter->setFocus();
    indexFilter->selectAll();
}

bool HelpWindow::showContext(int context)
{
    const QList<QHelpLink> topics =
        m_engine->documentsForIdentifier(HelpContexts::keywordId(context));
    if (topics.isEmpty())
        return false;
    navigation->setCurrentWidget(contents);
    showPage(topics.first().url);
    return true;
}

void HelpWindow::showPage(const QUrl &url)
{
    const bool ours = url.scheme() == QLatin1String("qthelp") && !m_engine->fileData(url).isEmpty();
    page->setSource(ours ? url : firstPage());
    bringToFront();
}

QUrl HelpWindow::currentPage() const
{
    return page->source();
}

void HelpWindow::bringToFront()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void HelpWindow::followInContents()
{
    QUrl shown = page->source();
    shown.setFragment(QString());
    const QModelIndex at = contents->indexOf(shown);
    if (at.isValid())
        contents->setCurrentIndex(at);
}

HelpWindow::~HelpWindow()
{
    if (isVisible())
        savePlacement();
}

void HelpWindow::savePlacement()
{
    try {
        m_placement->Save();
    } catch (const qb::Error &) {
        // The placement is a convenience; the window closes all the same.
    }
}

void HelpWindow::closeEvent(QCloseEvent *event)
{
    savePlacement();
    QMainWindow::closeEvent(event);
}
