#include "SettingsCommand.h"

#include "CliSupport.h"
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

Item text(int key, QString TSettings::*field)
{
    const QString name = TSettings::valueName(key);
    return {name, [field](const TSettings &s) { return Escape(s.*field); },
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

QList<Item> recordItems()
{
    return {
        {QStringLiteral("format version"),
         [](const TSettings &s) { return QString::number(s.formatVersion); },
         [](TSettings &, const QString &) {
             throw qb::Error(QStringLiteral("The format version is always written as 7"));
         }},
        text(1, &TSettings::skarvellFilter),
        text(2, &TSettings::saveFolder),
        integer(3, &TSettings::firstNumber),
        text(4, &TSettings::numberFormat),
        boolean(5, &TSettings::includeSubject),
        text(9, &TSettings::msgDestination),
        text(10, &TSettings::entryId),
        boolean(16, &TSettings::moveMessages),
        boolean(17, &TSettings::getFromDefaultFolder),
        text(18, &TSettings::fromFolderName),
        text(19, &TSettings::fromFolderEntryId),
        boolean(22, &TSettings::logToFile),
        text(23, &TSettings::logFilename),
    };
}

int show(const QString &path)
{
    TSettings settings;
    settings.loadFromFile(path);
    QString out;
    for (const Item &item : recordItems())
        out += item.name + QLatin1Char('=') + item.show(settings) + QLatin1Char('\n');
    cli::printOut(out);
    return 0;
}

int write(const QString &path, const QStringList &assignments)
{
    TSettings settings;
    settings.setRegistryDefaults();
    const QList<Item> items = recordItems();
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

} // namespace

int runSettingsCommand(const QStringList &arguments)
{
    const QString usage = QStringLiteral(
        "Usage: quillbrook-cli settings show FILE.qbk | settings write FILE.qbk [name=value]...");
    if (arguments.size() < 2 ||
        (arguments[0] != QLatin1String("show") && arguments[0] != QLatin1String("write")))
        return cli::usageError(usage);
    try {
        if (arguments[0] == QLatin1String("show"))
            return arguments.size() == 2 ? show(arguments[1]) : cli::usageError(usage);
        return write(arguments[1], arguments.mid(2));
    } catch (const qb::Error &e) {
        return cli::usageError(e.message());
    }
}
