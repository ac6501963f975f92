// The editors' one character format, kept in memory and in "config" as the
// 116-byte CHARFORMAT2W record of the Windows rich-edit control, byte for
// byte (integers little-endian):
//
//   0  cbSize 4       26 szFaceName 64 (32 UTF-16 units, NUL-terminated)
//   4  dwMask 4       90 padding 2
//   8  dwEffects 4    92 wWeight 2, 94 sSpacing 2, 96 crBackColor 4, 100 lcid 4,
//   12 yHeight 4      104 reserved 4, 108 sStyle 2, 110 wKerning 2,
//   16 yOffset 4      112 bUnderlineType, bAnimation, bRevAuthor, reserved (1 each)
//   20 crTextColor 4 (0x00BBGGRR)
//   24 bCharSet 1, 25 bPitchAndFamily 1
//
// The first 92 bytes are the CHARFORMATW part the font dialog edits. Only
// face, height, colour and a few effect bits are mapped onto Qt; every other
// byte is carried through unchanged.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <array>
#include <cstdint>

namespace tavro {

inline constexpr std::size_t kCharFormat2WSize = 116;
inline constexpr std::size_t kCharFormatWSize = 92;

inline constexpr std::uint32_t CFM_BOLD = 0x00000001;
inline constexpr std::uint32_t CFM_ITALIC = 0x00000002;
inline constexpr std::uint32_t CFM_UNDERLINE = 0x00000004;
inline constexpr std::uint32_t CFM_STRIKEOUT = 0x00000008;
inline constexpr std::uint32_t CFM_FACE = 0x20000000;
inline constexpr std::uint32_t CFM_COLOR = 0x40000000;
inline constexpr std::uint32_t CFM_SIZE = 0x80000000;
inline constexpr std::uint32_t CFE_BOLD = 0x00000001;
inline constexpr std::uint32_t CFE_ITALIC = 0x00000002;
inline constexpr std::uint32_t CFE_UNDERLINE = 0x00000004;
inline constexpr std::uint32_t CFE_STRIKEOUT = 0x00000008;
inline constexpr std::uint32_t CFE_AUTOCOLOR = 0x40000000;

// The face name every format starts with.
inline const QString kDefaultFaceName = QStringLiteral("微软雅黑");

class CharFormat2W {
public:
    // All 116 bytes zero.
    CharFormat2W() = default;

    // The start-up format: cbSize 92, mask size|colour|face, 196 twips,
    // black, "微软雅黑", every other byte zero.
    static CharFormat2W Default();

    std::uint32_t cbSize() const { return Get32(0); }
    void setCbSize(std::uint32_t v) { Put32(0, v); }
    std::uint32_t dwMask() const { return Get32(4); }
    void setDwMask(std::uint32_t v) { Put32(4, v); }
    std::uint32_t dwEffects() const { return Get32(8); }
    void setDwEffects(std::uint32_t v) { Put32(8, v); }
    std::int32_t yHeight() const { return static_cast<std::int32_t>(Get32(12)); }
    void setYHeight(std::int32_t v) { Put32(12, static_cast<std::uint32_t>(v)); }
    std::int32_t yOffset() const { return static_cast<std::int32_t>(Get32(16)); }
    std::uint32_t crTextColor() const { return Get32(20); }
    void setCrTextColor(std::uint32_t v) { Put32(20, v); }
    std::uint8_t bCharSet() const { return m_bytes[24]; }
    std::uint8_t bPitchAndFamily() const { return m_bytes[25]; }

    // The face name up to its terminator.
    QString faceName() const;
    // Stores at most 31 units and a terminator; the rest of the field is zeroed.
    void setFaceName(const QString& name);

    // The font and colour the editors show for this record.
    QFont toFont() const;
    QColor textColor() const;

    // COLORREF (0x00BBGGRR) of a Qt colour, and back.
    static std::uint32_t ColorRef(const QColor& color);
    static QColor FromColorRef(std::uint32_t colorRef);

    // Replaces each field the mask applies that the font dialog could never
    // have set by fallback's: a face name that is empty, not terminated
    // within its 32 units, or holds a control character or a lone surrogate;
    // a height outside sizes 8-120 (64-14400 twips); a colour whose high byte
    // is set. Every other byte stays as it is. True if anything was replaced.
    bool RepairFrom(const CharFormat2W& fallback);

    const std::array<std::uint8_t, kCharFormat2WSize>& bytes() const { return m_bytes; }
    std::array<std::uint8_t, kCharFormat2WSize>& bytes() { return m_bytes; }

    bool operator==(const CharFormat2W&) const = default;

private:
    std::uint32_t Get32(std::size_t offset) const;
    void Put32(std::size_t offset, std::uint32_t value);

    std::array<std::uint8_t, kCharFormat2WSize> m_bytes{};
};

} // namespace tavro
