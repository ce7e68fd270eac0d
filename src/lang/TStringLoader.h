#pragma once

// The lang layer: the language file, its escapes and the numbered texts. Links
// the common layer only.

#include "IniFile.h"

#include <QMutex>
#include <QString>

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
    // with its built-in text and nothing is written.
    explicit TStringLoader(const QString &path);
    ~TStringLoader();
    TStringLoader(const TStringLoader &) = delete;
    TStringLoader &operator=(const TStringLoader &) = delete;

    // Languages/English.ini in the writable program folder.
    static QString defaultPath();

    bool unavailable() const { return Unavailable; }

    // A numbered text (section "global"). Throws qb::Error when the stored value is
    // malformed or the file cannot be written back.
    QString loadString(int id, const QString &builtIn);

    // The text of one property of one component of the window whose class is
    // section: the translation when the file has a non-empty one; otherwise the
    // current text, which is added to the file when it is not empty and the
    // component has a name. Throws like loadString.
    QString componentText(const QString &section, const QString &component, const QString &property,
                          const QString &current);

private:
    void writeBack();

    bool Unavailable = false;
    IniFile LangFile;
    QString m_path;
    QMutex m_lock;
};

// The numbered text through the process's loader, or builtIn when there is none.
QString LoadLangString(int id, const QString &builtIn);
