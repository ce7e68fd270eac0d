#include "MimeParameter.h"

#include "HeaderText.h"

#include <algorithm>
#include <string>

namespace mime {

QByteArray parameterValue(const QByteArray &rawHeader, const QByteArray &name)
{
    const QByteArray text = unfold(rawHeader);
    qsizetype pos = 0;
    bool inQuotes = false;
    // Parameters follow a ";" outside quotes.
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == '\\' && inQuotes) {
            ++pos;
        } else if (c == ';' && !inQuotes) {
            // The name ends at "=" before the next ";", else there is no value.
            qsizetype equals = pos;
            while (equals < text.size() && text[equals] != '=' && text[equals] != ';')
                ++equals;
            if (equals == text.size())
                return {};
            if (text[equals] == ';' || QByteArrayView(text)
                                               .sliced(pos, equals - pos)
                                               .trimmed()
                                               .compare(name, Qt::CaseInsensitive) != 0)
                continue;
            qsizetype v = equals + 1;
            while (v < text.size() && (text[v] == ' ' || text[v] == '\t'))
                ++v;
            QByteArray value;
            if (v < text.size() && text[v] == '"') {
                for (++v; v < text.size() && text[v] != '"'; ++v) {
                    if (text[v] == '\\' && v + 1 < text.size())
                        ++v;
                    value.append(text[v]);
                }
            } else {
                const qsizetype end = text.indexOf(';', v);
                value = text.mid(v, (end < 0 ? text.size() : end) - v).trimmed();
            }
            return value.isNull() ? QByteArray("") : value;
        }
    }
    return {};
}

bool isTokenCharacter(char c)
{
    static constexpr char specials[] = "()<>@,;:\\\"/[]?= ";
    return uchar(c) > 32 && uchar(c) < 127 && !std::char_traits<char>::find(specials, 17, c);
}

bool isToken(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

} // namespace mime
