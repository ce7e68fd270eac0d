#include "settings/TRegistry.h"
#include "settings/TSettings.h"
#include "ui/TFormInfo.h"
#include "ui/TMRUManager.h"

#include <QAction>
#include <QFile>
#include <QFontMetrics>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

const QString recentKey = TSettings::valueName(21);

QStringList texts(const TRecentStrings &list)
{
    QStringList result;
    for (const auto &entry : list.entries())
        result << entry.text;
    return result;
}

} // namespace

class TestPersistence : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path())); }
    void init() { QFile::remove(TRegistry::hivePath(TRegistry::Root::CurrentUser)); }

    void recentListOrder()
    {
        TRecentStrings list;
        for (int i = 1; i <= 11; ++i)
            list.addRecent(QStringLiteral("/jobs/%1.qbk").arg(i));
        QCOMPARE(list.entries().size(), 10);
        QCOMPARE(list.entries().first().text, QStringLiteral("/jobs/11.qbk"));
        QCOMPARE(list.entries().last().text, QStringLiteral("/jobs/2.qbk"));
        list.addRecent(QStringLiteral("/JOBS/5.QBK"));
        QCOMPARE(list.entries().first().text, QStringLiteral("/jobs/5.qbk")); // the case it had
        QCOMPARE(list.entries().size(), 10);
        QCOMPARE(TRecentStrings::caption(0, QStringLiteral("/a.qbk")),
                 QStringLiteral("&1\t/a.qbk"));
        QCOMPARE(TRecentStrings::caption(9, QStringLiteral("/a.qbk|hint")),
                 QStringLiteral("&A\t/a.qbk"));
        QCOMPARE(TRecentStrings::hint(QStringLiteral("/a.qbk|the hint")),
                 QStringLiteral("the hint"));
    }

    void recentListInTheRegistry()
    {
        TRegistry registry;
        QVERIFY(registry.OpenKey(recentKey, true));
        registry.WriteString(QStringLiteral("Item_3"), QStringLiteral("/three.qbk"));
        registry.WriteString(QStringLiteral("Item_7"), QStringLiteral("/seven.qbk"));
        registry.WriteInteger(QStringLiteral("Item_5"), 5); // not text: skipped
        registry.WriteString(QStringLiteral("Item_8"), QStringLiteral("/THREE.qbk"));
        registry.WriteString(QStringLiteral("User_3"), QStringLiteral("0"));
        TRecentStrings list;
        list.loadFromRegistry(recentKey);
        // Item_8 came first, so the duplicate keeps its spelling when Item_3 moves it up.
        QCOMPARE(texts(list), QStringList({"/THREE.qbk", "/seven.qbk"}));
        list.saveToRegistry(recentKey);
        QVERIFY(registry.OpenKey(recentKey, false));
        QCOMPARE(readStringOr(registry, QStringLiteral("Item_0"), QString()),
                 QStringLiteral("/THREE.qbk"));
        QCOMPARE(readStringOr(registry, QStringLiteral("Item_1"), QString()),
                 QStringLiteral("/seven.qbk"));
        QVERIFY(!registry.value(QStringLiteral("Item_3")));
        QVERIFY(!registry.value(QStringLiteral("User_3")));
    }

    void recentSubmenu()
    {
        QMenu menu(QStringLiteral("&Recent files"));
        TMRUManager manager(&menu, nullptr);
        QVERIFY(!menu.isEnabled());
        for (int i = 1; i <= 10; ++i)
            manager.addRecent(QStringLiteral("/jobs/%1.qbk").arg(i));
        QVERIFY(menu.isEnabled());
        const QList<QAction *> actions = menu.actions();
        QCOMPARE(actions.size(), 10);
        QCOMPARE(actions[0]->text(), QStringLiteral("&1 /jobs/10.qbk"));
        QCOMPARE(actions[9]->text(), QStringLiteral("&A /jobs/1.qbk"));
        QSignalSpy clicks(&manager, &TMRUManager::clicked);
        actions[2]->trigger();
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks[0][0].toString(), QStringLiteral("/jobs/8.qbk"));
        QCOMPARE(manager.list().entries().first().text,
                 QStringLiteral("/jobs/10.qbk")); // stays until opened

        // A long path loses its middle, an ampersand stays one, the hint keeps it whole.
        const QString deep = QStringLiteral("/home/user/") +
                             QStringLiteral("folder/").repeated(40) +
                             QStringLiteral("R&D weekly.qbk");
        manager.addRecent(deep);
        QAction *first = menu.actions().first();
        QVERIFY(first->text().startsWith(QStringLiteral("&1 /home/user/")));
        QVERIFY(first->text().endsWith(QStringLiteral("R&&D weekly.qbk")));
        QVERIFY(first->text().contains(QChar(0x2026)));
        QVERIFY(!first->text().contains(QLatin1Char('\t')));
        QVERIFY(QFontMetrics(menu.font()).horizontalAdvance(first->text()) <
                TMRUManager::captionWidth + 100);
        QCOMPARE(first->statusTip(), deep);
    }

    void placementRoundTrip()
    {
        QWidget window;
        window.setObjectName(QStringLiteral("main"));
        window.resize(400, 300);
        window.move(40, 50);
        window.show();
        TFormInfo info(&window);
        info.AppName = QStringLiteral("Quillbrook");
        info.Save();
        TRegistry registry;
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\Vellmor Software\\Quillbrook\\main"),
                                 false));
        QCOMPARE(readIntegerOr(registry, QStringLiteral("WindowState"), -1), 1);
        QCOMPARE(readIntegerOr(registry, QStringLiteral("Left"), -1),
                 window.frameGeometry().left());

        QWidget again;
        again.setObjectName(QStringLiteral("main"));
        again.resize(100, 100);
        TFormInfo restore(&again);
        restore.AppName = QStringLiteral("Quillbrook");
        restore.Loaded();
        QCOMPARE(again.frameGeometry().size(), window.frameGeometry().size());
        QCOMPARE(again.frameGeometry().topLeft(), window.frameGeometry().topLeft());

        window.showMaximized();
        info.Save(); // only the state: the normal bounds stay
        QCOMPARE(readIntegerOr(registry, QStringLiteral("WindowState"), -1), 1);
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\Vellmor Software\\Quillbrook\\main"),
                                 false));
        QCOMPARE(readIntegerOr(registry, QStringLiteral("WindowState"), -1), 0);
        QCOMPARE(readIntegerOr(registry, QStringLiteral("Width"), -1),
                 400 + window.frameGeometry().width() - window.width());
    }

    void placementThatCannotApply()
    {
        TRegistry registry;
        QVERIFY(
            registry.OpenKey(QStringLiteral("Software\\Vellmor Software\\Quillbrook\\w"), true));
        registry.WriteInteger(QStringLiteral("Width"), 600);
        registry.WriteInteger(QStringLiteral("Height"), 200);
        registry.WriteInteger(QStringLiteral("Left"), 1500);
        registry.WriteInteger(QStringLiteral("Top"), 10);
        QWidget tooFar;
        tooFar.setObjectName(QStringLiteral("w"));
        tooFar.resize(123, 45);
        TFormInfo far(&tooFar);
        far.AppName = QStringLiteral("Quillbrook");
        QVERIFY(QGuiApplication::primaryScreen()->geometry().width() < 2100);
        far.Load();
        QCOMPARE(tooFar.size(), QSize(123, 45)); // saved on a larger screen: ignored

        registry.WriteInteger(QStringLiteral("Left"), 10);
        registry.DeleteValue(QStringLiteral("Top"));
        QWidget missing;
        missing.setObjectName(QStringLiteral("w"));
        missing.resize(123, 45);
        TFormInfo partial(&missing);
        partial.AppName = QStringLiteral("Quillbrook");
        partial.Load();
        QCOMPARE(missing.size(), QSize(123, 45)); // "Top" missing: nothing applied
    }
};

QTEST_MAIN(TestPersistence)
#include "test_persistence.moc"
