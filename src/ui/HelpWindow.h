#pragma once

#include <QMainWindow>
#include <QUrl>

class HelpBrowser;
class QHelpEngine;
class QHelpContentWidget;
class QHelpIndexWidget;
class QHelpSearchQueryWidget;
class QHelpSearchResultWidget;
class QLineEdit;
class QTabWidget;
class TFormInfo;
class TStringLoader;

// The manual: its contents, its index and a search on the left, the page on the right,
// with Back, Forward and Home. One for the program, kept while the main window lives
// (closing hides it). Its language-file section is THelpWindow; registry key
// ...\Quillbrook\help.
class HelpWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr QLatin1String languageSection{"THelpWindow"};

    // collectionFile must exist; the engine is set up at once.
    HelpWindow(const QString &collectionFile, TStringLoader *loader, QWidget *parent = nullptr);
    // Keeps the placement of a window still open when the program ends.
    ~HelpWindow() override;

    // The contents, on the first page of the manual.
    void showContents();
    // The index, ready for typing a word.
    void showIndex();
    // The topic of a help context; false (and nothing changes) when the manual has none.
    bool showContext(int context);
    // A page of the manual, or its first page for an address that is not one of it.
    void showPage(const QUrl &url);

    QUrl currentPage() const;
    QHelpEngine *engine() const { return m_engine; }

    QTabWidget *navigation;
    QHelpContentWidget *contents;
    QLineEdit *indexFilter;
    QHelpIndexWidget *index;
    QHelpSearchQueryWidget *searchQuery;
    QHelpSearchResultWidget *searchResults;
    HelpBrowser *page;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildNavigation();
    void buildToolBar();
    void bringToFront();
    void savePlacement();
    // Marks the page shown in the contents, once they are there.
    void followInContents();

    QHelpEngine *m_engine;
    TFormInfo *m_placement;
};
