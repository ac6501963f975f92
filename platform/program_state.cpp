#include "program_state.h"

namespace tavro {

DocumentKey g_documentKey{};
CharFormat2W g_charFormat;
bool g_bFontAccepted = false;

} // namespace tavro
