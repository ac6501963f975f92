// The window's scratch copies of the document text, as the core takes them.
#pragma once

#include <QString>

#include <string_view>

namespace tavro {

// The UTF-16 units of text, without a copy.
inline std::u16string_view Utf16(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

// Overwrites a scratch copy of the document text before it is released.
inline void WipeText(QString& text)
{
    if (!text.isEmpty() && !text.isDetached())
        text.detach();
    text.fill(QChar(0));
    text.clear();
}

} // namespace tavro
