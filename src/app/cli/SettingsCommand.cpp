#include "SettingsCommand.h"

#include "CliSupport.h"
#include "TerminalText.h"
#include "common/Error.h"
#include "lang/Escape.h"
#include "settings/TSettings.h"

#include <functional>

namespace {

// One item of the settings record, in record order, with how it reads and writes as text.
struct Item
{
    QString name;
    std::function<QString(const TSettings &)> show;
    std::function<void(TSettings &, const QString &)> set;
};

qint32 integerValue(const QString &name, const QString &text)
{
    bool ok = false;
    const qint32 value = text.toInt(&ok);
    if (!ok)
        throw qb::Error(QStringLiteral("%1 needs a whole number, not %2").arg(name, text));
    return value;
}

bool booleanValue(const QString &name, const QString &text)
{
    if (text != QLatin1String("0") && text != QLatin1String("1"))
        throw qb::Error(QStringLiteral("%1 needs 0 or 1, not %2").arg(name, text));
    return text == QLatin1String("1");
}

// With --escaped a text is shown escaped so that any character stays on its line, and
// is taken in that same form, so what "show --escaped" prints can be written back
// unchanged. Without it a text is taken as it is given.
QString unescapedValue(const QString &name, const QString &text)
{
    QByteArray bytes;
    try {
        bytes = unescapeBytes(text.toUtf8());
    } catch (const qb::Error &e) {
        throw qb::Error(QStringLiteral("%1: %2").arg(name, e.message()));
    }
    // An octal escape can make bytes that are no text; they would be replaced, not written.
    if (!bytes.isValidUtf8())
        throw qb::Error(QStringLiteral("%1: the escaped bytes are not UTF-8 text").arg(name));
    return QString::fromUtf8(bytes);
}

Item text(int key, QString TSettings::*field, bool escaped)
{
    const QString name = TSettings::valueName(key);
    if (escaped)
        return {
            name, [field](const TSettings &s) { return Escape(s.*field); },
            [field, name](TSettings &s, const QString &v) { s.*field = unescapedValue(name, v); }};
    // A control character (a settings file can hold any) is shown, not sent to the terminal.
    return {name, [field](const TSettings &s) { return cli::terminalSafe(s.*field); },
            [field](TSettings &s, const QString &v) { s.*field = v; }};
}

Item boolean(int key, bool TSettings::*field)
{
    const QString name = TSettings::valueName(key);
    return {name, [field](const TSettings &s) { return QString::number(s.*field ? 1 : 0); },
            [field, name](TSettings &s, const QString &v) { s.*field = booleanValue(name, v); }};
}

Item integer(int key, qint32 TSettings::*field)
{
    const QString name = TSettings::valueName(key);
    return {name, [field](const TSettings &s) { return QString::number(s.*field); },
            [field, name](TSettings &s, const QString &v) { s.*field = integerValue(name, v); }};
}

QList<Item> recordItems(bool escaped)
{
    return {
        {QStringLiteral("format version"),
         [](const TSettings &s) { return QString::number(s.formatVersion); },
         [](TSettings &, const QString &) {
             throw qb::Error(QStringLiteral("The format version is always written as 7"));
         }},
        text(1, &TSettings::skarvellFilter, escaped),
        text(2, &TSettings::saveFolder, escaped),
        integer(3, &TSettings::firstNumber),
        text(4, &TSettings::numberFormat, escaped),
        boolean(5, &TSettings::includeSubject),
        text(9, &TSettings::msgDestination, escaped),
        text(10, &TSettings::entryId, escaped),
        boolean(16, &TSettings::moveMessages),
        boolean(17, &TSettings::getFromDefaultFolder),
        text(18, &TSettings::fromFolderName, escaped),
        text(19, &TSettings::fromFolderEntryId, escaped),
        boolean(22, &TSettings::logToFile),
        text(23, &TSettings::logFilename, escaped),
    };
}

int show(const QString &path, bool escaped)
{
    TSettings settings;
    settings.loadFromFile(path);
    QString out;
    for (const Item &item : recordItems(escaped))
        out += item.name + QLatin1Char('=') + item.show(settings) + QLatin1Char('\n');
    cli::printOut(out);
    return 0;
}

int write(const QString &path, const QStringList &assignments, bool escaped)
{
    TSettings settings;
    settings.setRegistryDefaults();
    const QList<Item> items = recordItems(escaped);
    for (const QString &assignment : assignments) {
        const qsizetype equals = assignment.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? assignment : assignment.left(equals);
        const auto item = std::find_if(items.begin(), items.end(), [&](const Item &i) {
            return i.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (equals < 0 || item == items.end())
            throw qb::Error(QStringLiteral("Unknown setting %1: give name=value with a name that "
                                           "'settings show' prints")
                                .arg(name));
        item->set(settings, assignment.mid(equals + 1));
    }
    settings.saveToFile(path);
    return 0;
}

QString helpText()
{
    return QStringLiteral(R"(

show   prints the items of a settings file, one name=value a line.
write  writes a settings file: the named items take the given values,
       the others their defaults.

Options:
  --escaped  Texts in escaped form: show prints them so, write reads them so,
             and what show --escaped prints can be given to write --escaped
             unchanged, control characters included.

Without --escaped, write takes each value as it is given (a backslash is a
backslash) and show prints texts as they are, a control character as \xNN.
The escapes: \\ is a backslash, \t a tab, \n a line feed, \r a carriage
return (also \a \b \e \f \v), \OOO a byte in three octal digits; a backslash
before any other character stays as it is.
)");
}

} // namespace

int runSettingsCommand(const QStringList &given)
{
    const QString usage =
        QStringLiteral("Usage: quillbrook-cli settings show [--escaped] FILE.qbk | settings write "
                       "[--escaped] FILE.qbk [name=value]...");
    if (given.contains(QLatin1String("--help")) || given.contains(QLatin1String("-h"))) {
        cli::printOut(usage + helpText());
        return 0;
    }
    QStringList arguments = given;
    const bool escaped = arguments.removeAll(QStringLiteral("--escaped")) > 0;
    if (arguments.size() < 2 ||
        (arguments[0] != QLatin1String("show") && arguments[0] != QLatin1String("write")))
        return cli::usageError(usage);
    try {
        if (arguments[0] == QLatin1String("show"))
            return arguments.size() == 2 ? show(arguments[1], escaped) : cli::usageError(usage);
        return write(arguments[1], arguments.mid(2), escaped);
    } catch (const qb::Error &e) {
        return cli::usageError(e.message());
    }
}
