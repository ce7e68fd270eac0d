#include "lang/IniFile.h"
#include "lang/TStringLoader.h"
#include "ui/Localise.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The sample window's section: the one it is localised with, not its class name.
const QString sampleSection = QStringLiteral("TTestForm");

} // namespace

// A window with one of each kind of control that carries translatable text.
class SampleWindow : public QMainWindow
{
    Q_OBJECT
public:
    SampleWindow()
    {
        setObjectName(QStringLiteral("TestForm"));
        setWindowTitle(QStringLiteral("Test window"));
        auto *tabs = new QTabWidget(this);
        tabs->setObjectName(QStringLiteral("pages"));
        page = new QWidget;
        page->setObjectName(QStringLiteral("TabSheet1"));
        tabs->addTab(page, QStringLiteral("&1 Start"));
        setCentralWidget(tabs);
        auto *layout = new QVBoxLayout(page);
        button = new QPushButton(QStringLiteral("&Analyze"), page);
        button->setObjectName(QStringLiteral("analyseButton"));
        button->setToolTip(QStringLiteral("Find attachments"));
        label = new QLabel(QStringLiteral("Folder:"), page);
        label->setObjectName(QStringLiteral("Label1"));
        label->setToolTip(QStringLiteral("never localised"));
        group = new QGroupBox(QStringLiteral("Logging"), page);
        group->setObjectName(QStringLiteral("GroupBox1"));
        edit = new QLineEdit(QStringLiteral("quillbrook.log"), group);
        edit->setObjectName(QStringLiteral("logFilename"));
        unnamed = new QPushButton(QStringLiteral("No name"), page);
        tool = new QToolButton(page);
        tool->setObjectName(QStringLiteral("browseButton"));
        tool->setText(QStringLiteral("..."));
        for (QWidget *w : std::initializer_list<QWidget *>{button, label, group, unnamed, tool})
            layout->addWidget(w);
        menu = menuBar()->addMenu(QStringLiteral("&File"));
        menu->setObjectName(QStringLiteral("File1"));
        action = new QAction(QStringLiteral("&Open..."), this);
        action->setObjectName(QStringLiteral("Open1"));
        action->setStatusTip(QStringLiteral("Open a settings file"));
        menu->addAction(action);
        dialog = new QFileDialog(this);
        dialog->setObjectName(QStringLiteral("OpenDialog1"));
        dialog->setWindowTitle(QStringLiteral("Open settings"));
        dialog->setNameFilters(
            {QStringLiteral("Settings (*.qbk)"), QStringLiteral("All files (*)")});
    }

    QWidget *page;
    QPushButton *button;
    QLabel *label;
    QGroupBox *group;
    QLineEdit *edit;
    QPushButton *unnamed;
    QToolButton *tool;
    QMenu *menu;
    QAction *action;
    QFileDialog *dialog;
};

class TestLocalise : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstRunWritesThenTranslationsApply()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/Languages/English.ini");
        {
            TStringLoader loader(path);
            SampleWindow form;
            LocaliseForm(loader, sampleSection, &form);
            QCOMPARE(form.button->text(), QStringLiteral("&Analyze"));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const IniFile written = IniFile::parse(file.readAll());
        file.close();
        const QList<QPair<QByteArray, QByteArray>> expected = {
            {"TestForm.Caption", "Test window"},
            {"TabSheet1.Caption", "&1 Start"},
            {"analyseButton.Caption", "&Analyze"},
            {"analyseButton.Hint", "Find attachments"},
            {"Label1.Caption", "Folder:"},
            {"GroupBox1.Caption", "Logging"},
            {"logFilename.Text", "quillbrook.log"},
            {"browseButton.Caption", "..."},
            {"File1.Caption", "&File"},
            {"Open1.Caption", "&Open..."},
            {"Open1.Hint", "Open a settings file"},
            {"OpenDialog1.Title", "Open settings"},
            {"OpenDialog1.Filter", "Settings (*.qbk);;All files (*)"},
        };
        for (const auto &[key, value] : expected)
            QCOMPARE(written.value("TTestForm", key), value);
        QVERIFY(!written.contains("TTestForm", "Label1.Hint")); // labels have captions only
        QVERIFY(!written.contains("TTestForm", "OpenDialog1.Caption"));
        QVERIFY(!written.contains("TTestForm", ".Caption")); // unnamed: looked up, never written
        // A standard dialog's own widgets are Qt's, translated by Qt: none of them is written.
        for (const char *internal : {"lookInLabel.Caption", "backButton.Hint",
                                     "fileNameLabel.Caption", "fileTypeLabel.Caption"})
            QVERIFY2(!written.contains("TTestForm", internal), internal);

        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "[ttestform]\nTestForm.Caption=Testfenster\nTABSHEET1.CAPTION=&1 Anfang\n"
            "analyseButton.Caption=&Analysieren\nanalyseButton.Hint=Anh\xC3\xA4nge finden\n"
            "Label1.Caption=Zwei\\r\\nZeilen\nGroupBox1.Caption=\nlogFilename.Text=protokoll.log\n"
            "File1.Caption=&Datei\nOpen1.Caption=\xC3\x96&ffnen...\nOpen1.Hint=Einstellungen "
            "laden\n"
            "OpenDialog1.Title=Einstellungen \xC3\xB6"
            "ffnen\nOpenDialog1.Filter=Einstellungen (*.qbk)\n"
            ".Caption=Ohne Namen\nbrowseButton.Hint=Durchsuchen\n");
        file.close();
        TStringLoader loader(path);
        SampleWindow form;
        LocaliseForm(loader, sampleSection, &form);
        QCOMPARE(form.windowTitle(), QStringLiteral("Testfenster"));
        auto *tabs = form.findChild<QTabWidget *>();
        QCOMPARE(tabs->tabText(0), QStringLiteral("&1 Anfang"));
        QCOMPARE(form.button->text(), QStringLiteral("&Analysieren"));
        QCOMPARE(form.button->toolTip(), QStringLiteral("Anhänge finden"));
        QCOMPARE(form.button->statusTip(), QStringLiteral("Anhänge finden"));
        QCOMPARE(form.label->text(), QStringLiteral("Zwei\r\nZeilen"));
        QCOMPARE(form.group->title(),
                 QStringLiteral("Logging")); // an empty translation keeps the design text
        QCOMPARE(form.edit->text(), QStringLiteral("protokoll.log"));
        QCOMPARE(form.menu->title(), QStringLiteral("&Datei"));
        QCOMPARE(form.action->text(), QStringLiteral("Ö&ffnen..."));
        QCOMPARE(form.action->toolTip(), QStringLiteral("Einstellungen laden"));
        QCOMPARE(form.dialog->windowTitle(), QStringLiteral("Einstellungen öffnen"));
        QCOMPARE(form.dialog->nameFilters(), QStringList{"Einstellungen (*.qbk)"});
        QCOMPARE(form.unnamed->text(), QStringLiteral("Ohne Namen"));
        QCOMPARE(form.tool->toolTip(),
                 QStringLiteral("Durchsuchen")); // an empty hint is still looked up
    }
};

QTEST_MAIN(TestLocalise)
#include "test_localise.moc"
