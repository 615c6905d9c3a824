// The utility's message boxes on Windows: modal, captioned with the application title (the
// program file's name without its extension), in the style the caller names.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Stands in for MessageBoxA; tests answer boxes through it. Gets the owner, text, caption and
// style and returns the answer (IDOK, IDYES, IDNO, ...).
using MessageBoxHook = std::function<int(HWND owner, const std::string& text,
                                         const std::string& caption, unsigned style)>;

// Sets (or, with an empty function, clears) the hook that answers every message box.
void SetMessageBoxHook(MessageBoxHook hook);

// Shows a modal message box over owner and returns the answer.
int AppMessageBox(HWND owner, const std::string& text, unsigned style);
