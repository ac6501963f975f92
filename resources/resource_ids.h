// Command ids of the main window's menu and accelerators.
#pragma once

namespace tavro {

enum CommandId : int {
    ID_FILE_NEW = 32781,
    ID_FILE_OPEN = 32782,
    ID_FILE_SAVE = 32783,
    ID_FILE_SAVE_AS = 32784,
    ID_FILE_EXPORT_TXT = 32785,
    ID_APP_EXIT = 32787,
    ID_SETTINGS_PASSWORD = 32788,
    ID_WORD_WRAP = 32793,
    ID_EDIT_UNDO = 32802,
    ID_EDIT_COPY = 32803,
    ID_EDIT_CUT = 32804,
    ID_EDIT_DELETE = 32805,
    ID_EDIT_PASTE = 32806,
    ID_EDIT_SELECT_ALL = 32808,
    ID_EDIT_FIND = 32812,
    ID_SETTINGS_FONT = 32814,
    ID_LOCK = 32817,
    ID_UNLOCK = 32818,
    ID_EDIT_REPLACE = 32826,
    ID_AUTO_SAVE = 32833,
    ID_FILE_CLOSE_DOC = 32834,
    ID_HELP_STATEMENT = 32836,
    ID_HELP_ABOUT = 32838,
    ID_HELP_USAGE_NOTES = 32840,
    ID_FILE_VERSIONS = 32900, // the version history: the program's own, beyond the first menus
};

// Menu bar and accelerator table of the main window.
inline constexpr int IDR_MAIN_MENU = 130;

} // namespace tavro
