#include "TLogLevel.h"

#include "lang/TStringLoader.h"

QString LevelName(TLogLevel level)
{
    switch (level) {
    case llInfo:
        return LoadLangString(900, QStringLiteral("Info"));
    case llWarning:
        return LoadLangString(910, QStringLiteral("Warning"));
    case llError:
        return LoadLangString(920, QStringLiteral("Error"));
    }
    return QStringLiteral("**");
}
