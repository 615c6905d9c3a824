#include "message_box.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QScreen>
#include <algorithm>

#include "diag_log.h"
#include "printable_text.h"
#include "resource.h"

namespace {

constexpr unsigned kButtonMask = 0x000F;
constexpr unsigned kIconMask = 0x00F0;
constexpr unsigned kDefaultMask = 0x0F00;

constexpr unsigned kOkCancel = 0x0001;
constexpr unsigned kYesNoCancel = 0x0003;
constexpr unsigned kIconHand = 0x0010;
constexpr unsigned kDefaultButton3 = 0x0200;

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

// The buttons of a style in the order the box shows them.
QList<QMessageBox::StandardButton> ButtonsInOrder(unsigned style) {
    switch (style & kButtonMask) {
        case kOkCancel:
            return {QMessageBox::Ok, QMessageBox::Cancel};
        case kYesNoCancel:
            return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        case MB_YESNO:
            return {QMessageBox::Yes, QMessageBox::No};
        default:
            return {QMessageBox::Ok};
    }
}

QMessageBox::Icon IconForStyle(unsigned style) {
    switch (style & kIconMask) {
        case kIconHand:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// A default button beyond the last one falls back to the first, as the platform does.
qsizetype DefaultIndex(unsigned style, qsizetype buttonCount) {
    qsizetype index = 0;
    if ((style & kDefaultMask) == MB_DEFBUTTON2) {
        index = 1;
    } else if ((style & kDefaultMask) == kDefaultButton3) {
        index = 2;
    }
    return index < buttonCount ? index : 0;
}

// The wait cursor of an exchange would otherwise hang over the box too.
class NormalCursorWhileOpen {
public:
    NormalCursorWhileOpen() : m_active(QApplication::overrideCursor() != nullptr) {
        if (m_active) {
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        }
    }
    ~NormalCursorWhileOpen() {
        if (m_active) {
            QApplication::restoreOverrideCursor();
        }
    }
    NormalCursorWhileOpen(const NormalCursorWhileOpen&) = delete;
    NormalCursorWhileOpen& operator=(const NormalCursorWhileOpen&) = delete;

private:
    bool m_active;
};

// Qt wraps message box text at half the screen width, which breaks the texts' own short lines
// in odd places; the box instead grows to its longest line, as far as the screen allows.
void KeepLinesWhole(QMessageBox& box, const QString& text) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (label == nullptr) {
        return;
    }
    const QFontMetrics metrics(label->font());
    int longest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        longest = std::max(longest, metrics.horizontalAdvance(line));
    }
    const int available = box.screen()->availableGeometry().width() * 3 / 4;
    label->setMinimumWidth(std::min(longest + 2, available));
}

}  // namespace

MessageBoxLook LookForStyle(unsigned style) {
    const auto order = ButtonsInOrder(style);
    QMessageBox::StandardButtons buttons;
    for (const auto button : order) {
        buttons |= button;
    }
    return {buttons, IconForStyle(style), order[DefaultIndex(style, order.size())]};
}

void SetUpMessageBox(QMessageBox& box, const QString& text, unsigned style) {
    const MessageBoxLook look = LookForStyle(style);
    // The program file's name, which whoever copied the program chose.
    box.setWindowTitle(QString::fromStdString(PrintableText(ApplicationTitle())));
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setIcon(look.icon);
    box.setStandardButtons(look.buttons);
    box.setDefaultButton(look.defaultButton);
    box.setWindowModality(Qt::ApplicationModal);
    KeepLinesWhole(box, text);
}

int AnswerForButton(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok:
            return IDOK;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return IDCANCEL;
    }
}

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}

int ShowMessageBox(QWidget* parent, const QString& text, unsigned style) {
    QMessageBox box(parent);
    SetUpMessageBox(box, text, style);
    if (Hook()) {
        return Hook()(box);
    }
    NormalCursorWhileOpen cursor;
    box.exec();
    return AnswerForButton(box.standardButton(box.clickedButton()));
}
