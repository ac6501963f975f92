// The font dialog: one face, size and colour for all text of the editor,
// edited on a working copy of the format with a live preview. It ends
// Accepted on "确定" (the format chosen is charFormat()), Rejected otherwise.
//
// The size number n of the size field stands for n × n twips (14 is 196
// twips); 8 to 120 are taken, anything else is ignored without a word.
#pragma once

#include "char_format.h"

#include <QDialog>

class QFontComboBox;
class QLineEdit;
class QPushButton;

namespace tavro {

class TextEditor;
class Prompts;

class FontDialog : public QDialog {
    Q_OBJECT
public:
    // initial: the format the editor has; prompts: the colour chooser the dialog shows.
    FontDialog(const CharFormat2W& initial, Prompts& prompts, QWidget* parent = nullptr);

    // Handlers, public so that tests can drive them.
    void OnInitDialog();      // run by the constructor
    void OnOK();              // "确定", and Enter outside the buttons
    void OnCancel();          // "取消", Escape and the close box
    void OnChooseColor();     // "文字颜色"
    void OnSizeChanged();     // any change of the size field's text
    void OnFontSelected();    // a face chosen from the list
    void OnRestoreDefaults(); // "恢复默认值"
    void ApplyPreview();      // shows m_charFormat in the preview

    // The working copy: the initial format with what the dialog edits (face,
    // size, colour) as chosen; the bytes it does not edit are the initial ones.
    const CharFormat2W& charFormat() const { return m_charFormat; }

    // The controls, for tests.
    QFontComboBox* fontList() const { return m_comboFont; }     // 1009
    QLineEdit* sizeEdit() const { return m_editSize; }          // 1003
    TextEditor* preview() const { return m_editPreview; }    // 1007
    QPushButton* okButton() const { return m_buttonOk; }        // 1004
    QPushButton* cancelButton() const { return m_buttonCancel; } // 1005
    QPushButton* restoreButton() const { return m_buttonRestore; } // 1006
    QPushButton* colorButton() const { return m_buttonColor; }  // 1008

    // The text the preview shows.
    static const QString kPreviewText;

protected:
    void keyPressEvent(QKeyEvent* event) override; // Enter commits, Escape cancels
    void reject() override;                        // Escape and the close box act as "取消"

private:
    Prompts& m_prompts;
    CharFormat2W m_charFormat;
    TextEditor* m_editPreview = nullptr;
    QFontComboBox* m_comboFont = nullptr;
    QLineEdit* m_editSize = nullptr;
    QPushButton* m_buttonOk = nullptr;
    QPushButton* m_buttonCancel = nullptr;
    QPushButton* m_buttonRestore = nullptr;
    QPushButton* m_buttonColor = nullptr;
    bool m_faceEditFinishing = false; // the list's edit part is handing in typed text
};

} // namespace tavro
