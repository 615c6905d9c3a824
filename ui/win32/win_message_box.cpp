#include "win_message_box.h"

#include "diag_log.h"
#include "printable_ansi_text.h"

namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}

int AppMessageBox(HWND owner, const std::string& text, unsigned style) {
    // The program file's name is the system's text too.
    const std::string caption = PrintableAnsiText(ApplicationTitle());
    if (Hook()) {
        return Hook()(owner, text, caption, style);
    }
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}
