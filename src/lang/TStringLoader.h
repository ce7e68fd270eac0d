#pragma once

// The lang layer: the language file, its escapes and the numbered texts. Links
// the common layer only.

#include "IniFile.h"

#include <QMutex>
#include <QString>

#include <functional>

// The language file and the look-ups in it. The file teaches itself: a text that
// is looked up and missing is written into it at once in its built-in form, so
// running the program fills it with everything a translator can change.
//
// Look-ups come from the main thread and from job workers; one lock keeps them
// apart. While a loader exists it is the one LoadLangString uses; afterwards
// LoadLangString answers with the built-in texts.
class TStringLoader
{
public:
    // Reads the file, creating its folder; when either fails every look-up answers
    // with its built-in text and nothing is written. installedPath, when given, is the
    // copy an installation brings, which may be read-only: a text that the file lacks
    // is taken from it, and only what both lack is added to the file at path.
    explicit TStringLoader(const QString &path, const QString &installedPath = {});
    ~TStringLoader();
    TStringLoader(const TStringLoader &) = delete;
    TStringLoader &operator=(const TStringLoader &) = delete;

    // Languages/English.ini in the writable program folder.
    static QString defaultPath();
    // Languages/English.ini in the installation's data folder; empty for a build.
    static QString installedPath();

    bool unavailable() const { return Unavailable; }

    // Told once, with a message naming the file, when the file cannot be written back
    // (left read-only by another user, its folder gone): look-ups then go on with the
    // built-in texts and nothing more is written. Called while look-ups wait, on the
    // thread of the look-up, so it must not wait itself. Without it the message goes
    // to stderr.
    using Warning = std::function<void(const QString &)>;
    void setWriteWarning(Warning warning);

    // A numbered text (section "global"). Throws qb::Error when the stored value is
    // malformed.
    QString loadString(int id, const QString &builtIn);

    // The text of one property of one component of the window whose class is
    // section: the translation when the file has a non-empty one; otherwise the
    // current text, which is added to the file when it is not empty and the
    // component has a name. Throws like loadString.
    QString componentText(const QString &section, const QString &component, const QString &property,
                          const QString &current);

private:
    void writeBack();
    // The file that holds the key, the user's before the installed one; null for none.
    const IniFile *holder(const QByteArray &section, const QByteArray &key) const;

    bool Unavailable = false;
    bool m_writeFailed = false;
    Warning m_writeWarning;
    IniFile LangFile;
    IniFile m_installed;
    QString m_path;
    QMutex m_lock;
};

// The numbered text through the process's loader, or builtIn when there is none.
QString LoadLangString(int id, const QString &builtIn);
