#pragma once

#include <QByteArray>

namespace mime {

// The raw value of a parameter of a structured header such as Content-Type
// ("name") or Content-Disposition ("filename"), with quotes removed; a null
// value when the parameter is absent. RFC 2231 forms are not read here.
QByteArray parameterValue(const QByteArray &rawHeader, const QByteArray &name);

} // namespace mime
