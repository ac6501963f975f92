#include "menus.h"

namespace tavro {
namespace {

constexpr MenuItemDef kProtectItems[] = {
    {ID_LOCK, u"锁定文本(&L)\tAlt + L"},
    {ID_UNLOCK, u"解除锁定(&U)\tAlt + U"},
};

constexpr MenuItemDef kFileItems[] = {
    {ID_FILE_NEW, u"新建(&N)\tCtrl + N"},
    {ID_FILE_OPEN, u"打开(&O)...\tCtrl + O"},
    {ID_FILE_SAVE, u"保存(&S)\tCtrl + S"},
    {ID_FILE_SAVE_AS, u"另存为(&A)..."},
    {ID_FILE_EXPORT_TXT, u"导出为txt文件(&T)..."},
    {0, nullptr},
    {ID_FILE_CLOSE_DOC, u"关闭当前文件(&C)"},
    {ID_APP_EXIT, u"退出程序(&X)"},
};

constexpr MenuItemDef kEditItems[] = {
    {ID_EDIT_UNDO, u"撤销(&Z)\tCtrl + Z"},
    {0, nullptr},
    {ID_EDIT_CUT, u"剪切(&T)\tCtrl + T"},
    {ID_EDIT_COPY, u"复制(&C)\tCtrl + C"},
    {ID_EDIT_PASTE, u"粘贴(&P)\tCtrl + V"},
    {ID_EDIT_DELETE, u"删除(&L)\tDel"},
    {ID_EDIT_SELECT_ALL, u"全选(&A)\tCtrl + A"},
    {0, nullptr},
    {ID_EDIT_FIND, u"查找(&F)...\tCtrl + F"},
    {ID_EDIT_REPLACE, u"替换(&R)...\tCtrl + H"},
};

constexpr MenuItemDef kSettingsItems[] = {
    {ID_SETTINGS_PASSWORD, u"密码(&P)...\tCtrl + P"},
    {ID_SETTINGS_FONT, u"字体(&F)..."},
    {0, nullptr},
    {ID_WORD_WRAP, u"自动换行(&W)\tAlt + W"},
    {ID_AUTO_SAVE, u"自动保存 60s(&A)"},
};

constexpr MenuItemDef kHelpItems[] = {
    {ID_HELP_USAGE_NOTES, u"使用注意(重要)..."},
    {ID_HELP_STATEMENT, u"安全申明及原理..."},
    {ID_HELP_ABOUT, u"关于..."},
};

constexpr PopupDef kMainMenu[] = {
    {u"编辑保护(&D)", kProtectItems},
    {u"文件(&F)", kFileItems},
    {u"编辑(&E)", kEditItems},
    {u"设置(&S)", kSettingsItems},
    {u"帮助(&H)", kHelpItems},
};

constexpr AcceleratorDef kAccelerators[] = {
    {Qt::ALT | Qt::Key_W, ID_WORD_WRAP},
    {Qt::CTRL | Qt::Key_F, ID_EDIT_FIND},
    {Qt::ALT | Qt::Key_L, ID_LOCK},
    {Qt::CTRL | Qt::Key_N, ID_FILE_NEW},
    {Qt::CTRL | Qt::Key_O, ID_FILE_OPEN},
    {Qt::CTRL | Qt::Key_H, ID_EDIT_REPLACE},
    {Qt::CTRL | Qt::Key_S, ID_FILE_SAVE},
    {Qt::CTRL | Qt::Key_P, ID_SETTINGS_PASSWORD},
    {Qt::ALT | Qt::Key_U, ID_UNLOCK},
};

} // namespace

std::span<const PopupDef> MainMenu() { return kMainMenu; }

std::span<const AcceleratorDef> MainAccelerators() { return kAccelerators; }

} // namespace tavro
