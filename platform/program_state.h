// The program-wide values shared by the window and its dialogs.
#pragma once

#include "char_format.h"
#include "document_key.h"

namespace tavro {

// Key of the open document: all zero at start, or 32 lower-case hex
// characters. Written only by the password dialog and zeroed before each
// prompt that opens or creates a document. Never stored or shown.
extern DocumentKey g_documentKey;

// The one character format of both editors; stored in "config".
extern CharFormat2W g_charFormat;

// Set by the font dialog's OK, read by the Font command after the dialog.
extern bool g_bFontAccepted;

} // namespace tavro
