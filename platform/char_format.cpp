#include "char_format.h"

#include <algorithm>

namespace tavro {
namespace {

constexpr std::size_t kFaceOffset = 26;
constexpr std::size_t kFaceUnits = 32;
constexpr std::int32_t kSmallestHeight = 8 * 8;   // twips: the font dialog's size n is n * n twips
constexpr std::int32_t kLargestHeight = 120 * 120;

// A face name as a font dialog stores it: 1-31 units, then a terminator;
// no control character, every surrogate in a pair.
bool IsUsableFaceName(const std::array<std::uint8_t, kCharFormat2WSize>& bytes)
{
    const auto unit = [&bytes](std::size_t i) {
        return static_cast<char16_t>(bytes[kFaceOffset + 2 * i] | bytes[kFaceOffset + 2 * i + 1] << 8);
    };
    std::size_t length = 0;
    while (length < kFaceUnits && unit(length) != 0)
        ++length;
    if (length == 0 || length == kFaceUnits)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        const QChar c(unit(i));
        if (c.category() == QChar::Other_Control)
            return false;
        if (c.isHighSurrogate() && i + 1 < length && QChar(unit(i + 1)).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate())
            return false;
    }
    return true;
}

} // namespace

CharFormat2W CharFormat2W::Default()
{
    CharFormat2W format;
    format.setCbSize(static_cast<std::uint32_t>(kCharFormatWSize));
    format.setDwMask(CFM_SIZE | CFM_COLOR | CFM_FACE);
    format.setYHeight(196);
    format.setCrTextColor(0);
    format.setFaceName(kDefaultFaceName);
    return format;
}

std::uint32_t CharFormat2W::Get32(std::size_t offset) const
{
    return static_cast<std::uint32_t>(m_bytes[offset]) |
           static_cast<std::uint32_t>(m_bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(m_bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(m_bytes[offset + 3]) << 24;
}

void CharFormat2W::Put32(std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        m_bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

QString CharFormat2W::faceName() const
{
    QString name;
    for (std::size_t i = 0; i < kFaceUnits; ++i) {
        const auto unit = static_cast<char16_t>(m_bytes[kFaceOffset + 2 * i] |
                                                m_bytes[kFaceOffset + 2 * i + 1] << 8);
        if (unit == 0)
            break;
        name.append(QChar(unit));
    }
    return name;
}

void CharFormat2W::setFaceName(const QString& name)
{
    std::fill_n(m_bytes.begin() + kFaceOffset, 2 * kFaceUnits, std::uint8_t{0});
    const auto units = std::min<std::size_t>(static_cast<std::size_t>(name.size()), kFaceUnits - 1);
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = name.at(static_cast<qsizetype>(i)).unicode();
        m_bytes[kFaceOffset + 2 * i] = static_cast<std::uint8_t>(unit);
        m_bytes[kFaceOffset + 2 * i + 1] = static_cast<std::uint8_t>(unit >> 8);
    }
}

bool CharFormat2W::RepairFrom(const CharFormat2W& fallback)
{
    bool repaired = false;
    const std::uint32_t mask = dwMask();
    if ((mask & CFM_FACE) && !IsUsableFaceName(m_bytes)) {
        std::copy_n(fallback.m_bytes.begin() + kFaceOffset, 2 * kFaceUnits, m_bytes.begin() + kFaceOffset);
        repaired = true;
    }
    if ((mask & CFM_SIZE) && (yHeight() < kSmallestHeight || yHeight() > kLargestHeight)) {
        setYHeight(fallback.yHeight());
        repaired = true;
    }
    if ((mask & CFM_COLOR) && (crTextColor() & 0xFF000000u) != 0) {
        setCrTextColor(fallback.crTextColor());
        repaired = true;
    }
    return repaired;
}

QFont CharFormat2W::toFont() const
{
    QFont font;
    const std::uint32_t mask = dwMask();
    const std::uint32_t effects = dwEffects();
    if (mask & CFM_FACE) {
        // A face that is not installed keeps its name; Qt's fallback picks
        // a font that has the glyphs (a CJK one for Chinese text).
        font.setFamilies({faceName()});
    }
    if ((mask & CFM_SIZE) && yHeight() > 0)
        font.setPointSizeF(yHeight() / 20.0); // twips
    if (mask & CFM_BOLD)
        font.setBold(effects & CFE_BOLD);
    if (mask & CFM_ITALIC)
        font.setItalic(effects & CFE_ITALIC);
    if (mask & CFM_UNDERLINE)
        font.setUnderline(effects & CFE_UNDERLINE);
    if (mask & CFM_STRIKEOUT)
        font.setStrikeOut(effects & CFE_STRIKEOUT);
    return font;
}

QColor CharFormat2W::textColor() const
{
    if (!(dwMask() & CFM_COLOR) || (dwEffects() & CFE_AUTOCOLOR))
        return QColor(Qt::black);
    return FromColorRef(crTextColor());
}

std::uint32_t CharFormat2W::ColorRef(const QColor& color)
{
    return static_cast<std::uint32_t>(color.red()) |
           static_cast<std::uint32_t>(color.green()) << 8 |
           static_cast<std::uint32_t>(color.blue()) << 16;
}

QColor CharFormat2W::FromColorRef(std::uint32_t colorRef)
{
    return QColor(static_cast<int>(colorRef & 0xFF), static_cast<int>((colorRef >> 8) & 0xFF),
                  static_cast<int>((colorRef >> 16) & 0xFF));
}

} // namespace tavro
