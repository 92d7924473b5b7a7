#pragma once

// Conversions between a text box's QString and the core's byte strings.

#include <QString>

#include <string>
#include <string_view>

namespace dlscope {

// One byte per UTF-16 unit of the text, so that lengths match what the text
// box counts. Characters outside ASCII can be neither binary nor hex digits
// and are handed over as '?', which the rules treat like any bad character.
inline std::string toCommandText(const QString &text)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text)
        bytes += c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?';
    return bytes;
}

inline QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace dlscope
