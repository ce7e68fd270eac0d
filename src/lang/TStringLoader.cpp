#include "TStringLoader.h"

#include "Escape.h"
#include "common/Error.h"
#include "common/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

// The loader LoadLangString uses; guarded so that a loader is never freed while a
// look-up through it runs.
QMutex currentLock;
TStringLoader *current = nullptr;

} // namespace

TStringLoader::TStringLoader(const QString &path, const QString &installedPath) : m_path(path)
{
    if (!installedPath.isEmpty() && QFileInfo(installedPath) != QFileInfo(path)) {
        QFile installed(installedPath);
        if (installed.open(QIODevice::ReadOnly))
            m_installed = IniFile::parse(installed.readAll());
    }
    if (!QDir().mkpath(QFileInfo(path).path())) {
        Unavailable = true;
    } else {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            LangFile = IniFile::parse(file.readAll());
        else if (file.exists())
            Unavailable = true;
    }
    QMutexLocker lock(&currentLock);
    current = this;
}

TStringLoader::~TStringLoader()
{
    QMutexLocker lock(&currentLock);
    if (current == this)
        current = nullptr;
}

QString TStringLoader::defaultPath()
{
    return qb::writableProgramFolder() + QStringLiteral("Languages/English.ini");
}

QString TStringLoader::installedPath()
{
    const QString folder = qb::installedDataFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("Languages/English.ini");
}

const IniFile *TStringLoader::holder(const QByteArray &section, const QByteArray &key) const
{
    if (LangFile.contains(section, key))
        return &LangFile;
    if (m_installed.contains(section, key))
        return &m_installed;
    return nullptr;
}

void TStringLoader::setWriteWarning(Warning warning)
{
    QMutexLocker lock(&m_lock);
    m_writeWarning = std::move(warning);
}

void TStringLoader::writeBack()
{
    if (m_writeFailed)
        return;
    // Written whole, through a temporary file, so a failed write leaves the old file.
    QSaveFile file(m_path);
    const QByteArray content = LangFile.serialize();
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
        return;
    // A file that cannot take the texts it lacks costs nothing but those texts: every
    // look-up (each line of an action log among them) goes on with the built-in ones.
    m_writeFailed = true;
    const QString text = QStringLiteral("The language file %1 cannot be written (%2); the "
                                        "built-in texts are used for what it lacks")
                             .arg(m_path, file.errorString());
    try {
        if (m_writeWarning) {
            m_writeWarning(text);
            return;
        }
    } catch (...) {
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

QString TStringLoader::loadString(int id, const QString &builtIn)
{
    QMutexLocker lock(&m_lock);
    if (Unavailable)
        return builtIn;
    const QByteArray section = "global";
    const QByteArray key = QByteArray::number(id);
    if (const IniFile *file = holder(section, key))
        return QString::fromUtf8(unescapeBytes(file->value(section, key)));
    LangFile.setValue(section, key, escapeBytes(builtIn.toUtf8()));
    writeBack();
    return builtIn;
}

QString TStringLoader::componentText(const QString &section, const QString &component,
                                     const QString &property, const QString &current)
{
    QMutexLocker lock(&m_lock);
    if (Unavailable)
        return current;
    const QByteArray sectionName = section.toUtf8();
    const QByteArray key = (component + QLatin1Char('.') + property).toUtf8();
    if (const IniFile *file = holder(sectionName, key)) {
        const QString translated = QString::fromUtf8(unescapeBytes(file->value(sectionName, key)));
        return translated.isEmpty() ? current : translated;
    }
    if (!current.isEmpty() && !component.isEmpty()) {
        LangFile.setValue(sectionName, key, escapeBytes(current.toUtf8()));
        writeBack();
    }
    return current;
}

QString LoadLangString(int id, const QString &builtIn)
{
    QMutexLocker lock(&currentLock);
    return current ? current->loadString(id, builtIn) : builtIn;
}
