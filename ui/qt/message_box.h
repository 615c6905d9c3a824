// The utility's message boxes: the platform's MB_* styles on Qt message boxes.
#pragma once

#include <QMessageBox>
#include <functional>

// Buttons, icon and default button that one style names.
struct MessageBoxLook {
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
    QMessageBox::StandardButton defaultButton;
};

// The look of a style: its button set (low 4 bits), icon (next 4) and default button (next 4).
MessageBoxLook LookForStyle(unsigned style);

// Builds the modal box for text and style, captioned with the application title.
void SetUpMessageBox(QMessageBox& box, const QString& text, unsigned style);

// The answer as the platform names it (IDOK, IDCANCEL, IDYES, IDNO) for a clicked button;
// a box closed without a button answers IDCANCEL.
int AnswerForButton(QMessageBox::StandardButton button);

// Stands in for running a built box; returns the answer. Tests answer boxes through it.
using MessageBoxHook = std::function<int(QMessageBox& box)>;

// Sets (or, with an empty function, clears) the hook that answers every message box.
void SetMessageBoxHook(MessageBoxHook hook);

// Shows a modal message box over parent (none before the main dialog is on screen) and
// returns the answer. Every message box of the utility goes through here.
int ShowMessageBox(QWidget* parent, const QString& text, unsigned style);
