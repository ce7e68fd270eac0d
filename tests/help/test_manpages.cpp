// The man pages and the manual's command-line chapter say what the programs' --help says:
// the same commands in the synopsis, every option documented, none that is gone.
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

const QString helpSource = QStringLiteral(QB_HELP_SOURCE);

struct Run
{
    int status = -1;
    QString out;
};

// Runs a program with no display at all: its --help must not need one.
Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(20000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput())};
}

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A roff source as the text man shows, one line per source line: font changes dropped,
// "\-" a dash, "\e" a backslash, and the arguments of the alternating macros (.BR, .RB,
// .IR, .RI, ...) joined without spaces as man joins them.
QStringList manText(const QString &source)
{
    QStringList lines;
    const QRegularExpression argument(QStringLiteral("\"([^\"]*)\"|(\\S+)"));
    for (QString line : source.split(QLatin1Char('\n'))) {
        line.replace(QRegularExpression(QStringLiteral("\\\\f[BIRP]")), QString());
        line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
        line.replace(QStringLiteral("\\e"), QStringLiteral("\\"));
        if (line.startsWith(QLatin1String(".\\\"")))
            continue;
        const QRegularExpressionMatch macro =
            QRegularExpression(QStringLiteral("^\\.([A-Za-z]{1,2})\\s*(.*)$")).match(line);
        if (!macro.hasMatch()) {
            lines << line;
            continue;
        }
        const QString name = macro.captured(1);
        QStringList words;
        for (auto it = argument.globalMatch(macro.captured(2)); it.hasNext();) {
            const auto word = it.next();
            words << (word.captured(1).isNull() ? word.captured(2) : word.captured(1));
        }
        const bool alternating = name.size() == 2 && name != QLatin1String("SH") &&
                                 name != QLatin1String("SS") && name != QLatin1String("TP") &&
                                 name != QLatin1String("TH");
        lines << QStringLiteral(".") + name + QLatin1Char(' ') +
                     words.join(alternating ? QString() : QStringLiteral(" "));
    }
    return lines;
}

// The text of a section (.SH NAME) of a man page.
QStringList section(const QStringList &page, const QString &name)
{
    QStringList lines;
    bool inside = false;
    for (const QString &line : page) {
        if (line.startsWith(QLatin1String(".SH ")))
            inside = line == QStringLiteral(".SH ") + name;
        else if (inside)
            lines << line;
    }
    return lines;
}

// The synopsis' forms, each one line of plain text.
QStringList synopsis(const QString &manPage)
{
    QStringList forms{QString()};
    for (const QString &line : section(manText(fileText(manPage)), QStringLiteral("SYNOPSIS"))) {
        if (line == QLatin1String(".br ")) {
            forms << QString();
            continue;
        }
        const QString text =
            line.startsWith(QLatin1Char('.')) ? line.mid(line.indexOf(u' ') + 1) : line;
        forms.last() += QLatin1Char(' ') + text;
    }
    for (QString &form : forms)
        form = form.simplified();
    return forms;
}

QSet<QString> longOptions(const QString &text)
{
    QSet<QString> options;
    const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*"));
    for (auto it = option.globalMatch(text); it.hasNext();)
        options.insert(it.next().captured());
    return options;
}

// The commands that quillbrook-cli --help lists.
QStringList cliCommands(const QString &help)
{
    QStringList commands;
    const QRegularExpression listed(QStringLiteral("^  ([a-z-]+)\\s"),
                                    QRegularExpression::MultilineOption);
    for (auto it = listed.globalMatch(help.mid(help.indexOf(QLatin1String("Commands:"))));
         it.hasNext();)
        commands << it.next().captured(1);
    return commands;
}

} // namespace

class TestManPages : public QObject
{
    Q_OBJECT
    const QString cli = QStringLiteral(QB_CLI_PATH);
    const QString gui = QStringLiteral(QB_GUI_PATH);
    const QString cliPage = helpSource + QStringLiteral("/man/quillbrook-cli.1");
    const QString guiPage = helpSource + QStringLiteral("/man/quillbrook.1");

private Q_SLOTS:
    // Every command of --help has its form in the synopsis, and the synopsis has no other.
    void cliSynopsisHasEveryCommand()
    {
        const Run help = run(cli, {QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        const QStringList commands = cliCommands(help.out);
        QVERIFY2(commands.size() >= 7, qPrintable(help.out));
        const QStringList forms = synopsis(cliPage);
        QSet<QString> inSynopsis;
        for (const QString &form : forms) {
            QVERIFY2(form.startsWith(QLatin1String("quillbrook-cli ")), qPrintable(form));
            const QString first = form.section(u' ', 1, 1);
            if (first.startsWith(QLatin1Char('-')) || first == QLatin1String("COMMAND"))
                continue;
            for (const QString &command : first.split(QLatin1Char('|')))
                inSynopsis.insert(command);
        }
        QCOMPARE(inSynopsis, QSet<QString>(commands.begin(), commands.end()));
    }

    // A command's --help names it as it is typed, and the synopsis has that form.
    void cliCommandUsageMatchesTheSynopsis_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *command :
             {"analyze", "delete", "detach", "save", "relink", "undo", "open", "check-update"})
            QTest::newRow(command) << QString::fromLatin1(command);
    }

    void cliCommandUsageMatchesTheSynopsis()
    {
        QFETCH(QString, command);
        const Run help = run(cli, {command, QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        const QString usage = help.out.section(u'\n', 0, 0);
        QVERIFY2(usage.startsWith(QStringLiteral("Usage: quillbrook-cli %1 ").arg(command)),
                 qPrintable(usage));
        const QStringList forms = synopsis(cliPage);
        const bool found = std::any_of(forms.begin(), forms.end(), [&](const QString &form) {
            const QString first = form.section(u' ', 1, 1);
            return first.split(QLatin1Char('|')).contains(command);
        });
        QVERIFY2(found, qPrintable(command));
    }

    void cliSettingsUsageMatchesTheSynopsis()
    {
        const Run help = run(cli, {QStringLiteral("settings"), QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        const QStringList forms = synopsis(cliPage);
        QVERIFY(help.out.startsWith(
            QStringLiteral("Usage: quillbrook-cli settings show [--escaped] FILE.qbk | "
                           "settings write [--escaped] FILE.qbk [name=value]...")));
        QVERIFY(
            forms.contains(QStringLiteral("quillbrook-cli settings show [--escaped] FILE.qbk")));
        QVERIFY(forms.contains(
            QStringLiteral("quillbrook-cli settings write [--escaped] FILE.qbk [NAME=VALUE]...")));
    }

    // Every option that a command's --help prints is in the man page and in the manual's
    // chapter on the tool; and neither documents an option that no --help prints.
    void cliOptionsAreDocumented()
    {
        QSet<QString> printed{QStringLiteral("--help"), QStringLiteral("--version")};
        for (const char *command : {"analyze", "delete", "detach", "save", "relink", "undo",
                                    "settings", "open", "check-update"}) {
            const Run help = run(cli, {QString::fromLatin1(command), QStringLiteral("--help")});
            QCOMPARE(help.status, 0);
            printed.unite(longOptions(help.out));
        }
        // Qt's own options, which no user of the tool needs.
        printed.remove(QStringLiteral("--help-all"));
        QVERIFY(printed.size() >= 20);

        const QSet<QString> inManPage = longOptions(manText(fileText(cliPage)).join(u'\n'));
        const QSet<QString> inManual =
            longOptions(fileText(helpSource + QStringLiteral("/html/command-line.html")));
        for (const QString &option : printed) {
            QVERIFY2(inManPage.contains(option),
                     qPrintable(option + QStringLiteral(" (man page)")));
            QVERIFY2(inManual.contains(option), qPrintable(option + QStringLiteral(" (manual)")));
        }
        QCOMPARE(inManPage - printed, QSet<QString>());
        QCOMPARE(inManual - printed, QSet<QString>());
    }

    void cliVersion()
    {
        const Run version = run(cli, {QStringLiteral("--version")});
        QCOMPARE(version.status, 0);
        QVERIFY2(version.out.startsWith(QStringLiteral("Quillbrook 2.2 ")),
                 qPrintable(version.out));
    }

    // The desktop program's --help needs no display; its usage line is the synopsis'
    // first form and its options are the man page's.
    void guiUsageMatchesTheSynopsis()
    {
        const Run help = run(gui, {QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        const QString usage = help.out.section(u'\n', 0, 0);
        QVERIFY(usage.startsWith(QLatin1String("Usage: ")));
        const QStringList forms = synopsis(guiPage);
        QCOMPARE(forms.first(), usage.mid(7));
        QCOMPARE(forms.value(1), QStringLiteral("quillbrook --help | --version"));
        const QSet<QString> inManPage = longOptions(manText(fileText(guiPage)).join(u'\n'));
        QCOMPARE(longOptions(help.out), inManPage);

        const Run version = run(gui, {QStringLiteral("--store"), QStringLiteral("--help"),
                                      QStringLiteral("--version")});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QStringLiteral("Quillbrook 2.2 (release 37198.8708143519)\n"));
    }

    // The exit statuses the man page gives are those of the manual's chapter.
    void exitStatusesAgree()
    {
        QSet<QString> inManPage;
        bool next = false;
        for (const QString &line :
             section(manText(fileText(cliPage)), QStringLiteral("EXIT STATUS"))) {
            if (next)
                inManPage.insert(line.mid(3));
            next = line == QLatin1String(".TP ");
        }
        const QString chapter = fileText(helpSource + QStringLiteral("/html/command-line.html"));
        const QString table = chapter.mid(chapter.indexOf(QLatin1String("id=\"exit\"")));
        QSet<QString> inManual;
        const QRegularExpression status(QStringLiteral("<tr><td>(\\d+)</td>"));
        for (auto it = status.globalMatch(table); it.hasNext();)
            inManual.insert(it.next().captured(1));
        QCOMPARE(inManPage, (QSet<QString>{"0", "1", "2", "3", "10"}));
        QCOMPARE(inManual, inManPage);
    }
};

QTEST_GUILESS_MAIN(TestManPages)
#include "test_manpages.moc"
