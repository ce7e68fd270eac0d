// The manual as the build makes it: the collection opens, every topic of its contents and
// every file of the help project is in it, no link or picture leads nowhere, and every
// help context the program hands out has its topic.
#include "ui/HelpCollection.h"
#include "ui/HelpContexts.h"

#include <QDir>
#include <QFile>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpEngineCore>
#include <QHelpLink>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString collection = QStringLiteral(QB_HELP_COLLECTION);
const QString project = QStringLiteral(QB_HELP_SOURCE) + QStringLiteral("/Quillbrook.qhp");
const QString pageFolder = QStringLiteral(QB_HELP_SOURCE) + QStringLiteral("/html");

QUrl inManual(const QString &relativePath)
{
    return QUrl(QStringLiteral("qthelp://com.vellmor.quillbrook/doc/") + relativePath);
}

// The attributes of every element of the help project with this tag, in order.
QList<QXmlStreamAttributes> projectElements(const QString &tag)
{
    QFile file(project);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QXmlStreamAttributes> found;
    QXmlStreamReader reader(&file);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == tag)
            found << reader.attributes();
    }
    return found;
}

// The refs of the project's contents, in order, with their titles.
QList<QPair<QString, QString>> contents()
{
    QList<QPair<QString, QString>> sections;
    for (const QXmlStreamAttributes &section : projectElements(QStringLiteral("section")))
        sections.append({section.value(QStringLiteral("ref")).toString(),
                         section.value(QStringLiteral("title")).toString()});
    return sections;
}

QStringList manualPages()
{
    return QDir(pageFolder).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
}

// The text of a page of the built manual.
QString pageText(const QHelpEngineCore &engine, const QUrl &url)
{
    return QString::fromUtf8(engine.fileData(url));
}

bool hasAnchor(const QString &page, const QString &anchor)
{
    const QString escaped = QRegularExpression::escape(anchor);
    return page.contains(QRegularExpression(QStringLiteral("\\b(id|name)=\"%1\"").arg(escaped)));
}

} // namespace

class TestHelpCollection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(collection), qPrintable(collection));
        QVERIFY(
            QFile::exists(QFileInfo(collection).dir().filePath(QStringLiteral("Quillbrook.qch"))));
        QVERIFY(HelpCollection::missingFile(collection).isEmpty());
    }

    void collectionListsTheManual()
    {
        QHelpEngineCore engine(collection);
        QVERIFY2(engine.setupData(), qPrintable(engine.error()));
        QCOMPARE(engine.registeredDocumentations(), {QStringLiteral("com.vellmor.quillbrook")});
        // Relative to the collection, so both can move together (installed, copied).
        QCOMPARE(QFileInfo(engine.documentationFileName(QStringLiteral("com.vellmor.quillbrook")))
                     .canonicalFilePath(),
                 QFileInfo(QFileInfo(collection).dir().filePath(QStringLiteral("Quillbrook.qch")))
                     .canonicalFilePath());
    }

    // Each topic of the contents is a page of the built manual whose title is the topic's,
    // and every page of the manual is reachable from the contents.
    void contentsAndPagesAgree()
    {
        QHelpEngineCore engine(collection);
        QVERIFY(engine.setupData());
        const auto sections = contents();
        QVERIFY(sections.size() >= 15);
        QSet<QString> listed;
        for (const auto &[ref, title] : sections) {
            const QString page = pageText(engine, inManual(ref));
            QVERIFY2(!page.isEmpty(), qPrintable(ref));
            QVERIFY2(page.contains(QStringLiteral("<title>%1</title>").arg(title.toHtmlEscaped())),
                     qPrintable(ref + QStringLiteral(" is not titled ") + title));
            listed.insert(QFileInfo(ref).fileName());
        }
        for (const QString &page : manualPages())
            QVERIFY2(listed.contains(page),
                     qPrintable(page + QStringLiteral(" is not in the contents")));
    }

    // The contents the help window shows are the project's, all of them.
    void helpWindowContentsHoldEveryTopic()
    {
        QHelpEngine engine(collection);
        engine.setUsesFilterEngine(true);
        QSignalSpy created(engine.contentModel(), &QHelpContentModel::contentsCreated);
        QVERIFY(engine.setupData());
        QVERIFY(created.count() > 0 || created.wait(10000));
        QStringList shown;
        std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
            QHelpContentModel *model = engine.contentModel();
            for (int row = 0; row < model->rowCount(parent); ++row) {
                const QModelIndex index = model->index(row, 0, parent);
                shown << model->contentItemAt(index)->url().path();
                walk(index);
            }
        };
        walk({});
        QStringList expected;
        for (const auto &section : contents())
            expected << QStringLiteral("/doc/") + section.first;
        QCOMPARE(shown, expected);
    }

    // Every href and src of every page leads to a file of the manual (and to an anchor
    // that the page has), or out of it to a web address.
    void noLinkLeadsNowhere()
    {
        QHelpEngineCore engine(collection);
        QVERIFY(engine.setupData());
        const QRegularExpression reference(QStringLiteral("\\b(href|src)=\"([^\"]*)\""));
        QStringList dangling;
        int checked = 0;
        for (const QString &name : manualPages()) {
            const QUrl pageUrl = inManual(QStringLiteral("html/") + name);
            const QString page = pageText(engine, pageUrl);
            QVERIFY2(!page.isEmpty(), qPrintable(name));
            for (auto it = reference.globalMatch(page); it.hasNext();) {
                const QString target = it.next().captured(2);
                const QUrl url = pageUrl.resolved(QUrl(target));
                if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
                    continue;
                ++checked;
                QUrl file = url;
                file.setFragment({});
                if (url.scheme() != QLatin1String("qthelp") || engine.fileData(file).isEmpty()) {
                    dangling << name + QStringLiteral(": ") + target;
                    continue;
                }
                if (url.hasFragment() && !hasAnchor(pageText(engine, file), url.fragment()))
                    dangling << name + QStringLiteral(": ") + target + QStringLiteral(" (anchor)");
            }
        }
        QVERIFY(checked > 100);
        QVERIFY2(dangling.isEmpty(), qPrintable(dangling.join(QLatin1Char('\n'))));
    }

    // Every keyword of the index leads to a page (and anchor) of the manual.
    void indexEntriesLeadToPages()
    {
        QHelpEngineCore engine(collection);
        QVERIFY(engine.setupData());
        const QList<QXmlStreamAttributes> keywords = projectElements(QStringLiteral("keyword"));
        QVERIFY(keywords.size() > 40);
        for (const QXmlStreamAttributes &keyword : keywords) {
            const QString name = keyword.value(QStringLiteral("name")).toString();
            const QList<QHelpLink> links = engine.documentsForKeyword(name);
            QVERIFY2(!links.isEmpty(), qPrintable(name));
            QUrl file = links.first().url;
            file.setFragment({});
            const QString page = pageText(engine, file);
            QVERIFY2(!page.isEmpty(), qPrintable(name));
            if (links.first().url.hasFragment())
                QVERIFY2(hasAnchor(page, links.first().url.fragment()), qPrintable(name));
        }
    }

    void contextsOpenTheirTopics_data()
    {
        QTest::addColumn<int>("context");
        QTest::addColumn<QString>("page");
        QTest::newRow("starting folder page") << 200 << "starting-folder.html";
        QTest::newRow("attachments page") << 210 << "attachments.html";
        QTest::newRow("help menu") << 280 << "help-menu.html";
        QTest::newRow("file menu") << 290 << "settings-files.html";
        QTest::newRow("status window") << 1130 << "status-window.html";
        QTest::newRow("update window") << 1350 << "update-check.html";
        QTest::newRow("IMAP account window") << 1400 << "imap-accounts.html";
    }

    void contextsOpenTheirTopics()
    {
        QFETCH(int, context);
        QFETCH(QString, page);
        QVERIFY(std::find(std::begin(HelpContexts::all), std::end(HelpContexts::all), context) !=
                std::end(HelpContexts::all));
        QHelpEngineCore engine(collection);
        QVERIFY(engine.setupData());
        const QList<QHelpLink> topics =
            engine.documentsForIdentifier(HelpContexts::keywordId(context));
        QCOMPARE(topics.size(), 1);
        QCOMPARE(topics.first().url, inManual(QStringLiteral("html/") + page));
        QVERIFY(!engine.fileData(topics.first().url).isEmpty());
    }

    // An installed manual cannot keep its search index beside it: a collection of the
    // user's own lists the same manual, where it lies, and is made again when the manual
    // is newer.
    void ownCollectionReachesTheManual()
    {
        QTemporaryDir folder;
        const QString own = HelpCollection::collectionIn(folder.path(), collection);
        QCOMPARE(own, folder.filePath(QStringLiteral("Quillbrook.qhc")));
        {
            QHelpEngineCore engine(own);
            engine.setUsesFilterEngine(true);
            QVERIFY(engine.setupData());
            QCOMPARE(
                engine.documentationFileName(QStringLiteral("com.vellmor.quillbrook")),
                QFileInfo(QFileInfo(collection).dir().filePath(QStringLiteral("Quillbrook.qch")))
                    .absoluteFilePath());
            QCOMPARE(engine.documentsForIdentifier(HelpContexts::keywordId(210)).size(), 1);
            QVERIFY(!engine.fileData(inManual(QStringLiteral("html/index.html"))).isEmpty());
        }
        const QDateTime made = QFileInfo(own).lastModified();
        QCOMPARE(HelpCollection::collectionIn(folder.path(), collection), own);
        QCOMPARE(QFileInfo(own).lastModified(), made);
        QFile stale(own);
        QVERIFY(stale.open(QIODevice::ReadWrite));
        QVERIFY(stale.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0)),
                                  QFileDevice::FileModificationTime));
        stale.close();
        QCOMPARE(HelpCollection::collectionIn(folder.path(), collection), own);
        QVERIFY(QFileInfo(own).lastModified() > made.addYears(-1));
    }

    void missingFilesAreNamed()
    {
        QTemporaryDir folder;
        const QString alone = folder.filePath(QStringLiteral("Quillbrook.qhc"));
        QCOMPARE(HelpCollection::missingFile(alone), alone);
        QVERIFY(QFile::copy(collection, alone));
        QCOMPARE(HelpCollection::missingFile(alone),
                 folder.filePath(QStringLiteral("Quillbrook.qch")));
    }
};

QTEST_MAIN(TestHelpCollection)
#include "test_help_collection.moc"
