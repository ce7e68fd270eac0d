#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace mime {

// The raw value of a parameter of a structured header such as Content-Type
// ("name") or Content-Disposition ("filename"), with quotes removed; a null
// value when the parameter is absent. RFC 2231 forms are not read here.
QByteArray parameterValue(const QByteArray &rawHeader, const QByteArray &name);

// A character that may stand in a token of a structured header (RFC 2045): printable
// ASCII but for the specials and the space.
bool isTokenCharacter(char c);
// A token: one or more token characters.
bool isToken(QByteArrayView text);

} // namespace mime
