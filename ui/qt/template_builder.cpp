#include "template_builder.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "app_icon.h"
#include "com_port_list.h"

namespace {

using dialog_template::ControlKind;
using dialog_template::ControlTemplate;

// Static texts take no focus and show ampersands as they are.
QLabel* MakeText(QWidget* parent, const ControlTemplate& control) {
    auto* label = new QLabel(QString::fromUtf8(control.text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(control.kind == ControlKind::LeftText);
    switch (control.kind) {
        case ControlKind::RightText:
            label->setAlignment(Qt::AlignRight | Qt::AlignTop);
            break;
        case ControlKind::CentredText:
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            break;
        default:
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            break;
    }
    return label;
}

// The closed box takes the font's natural height; the template height includes the opened
// list, which sets how many entries the list shows at once.
QComboBox* MakeDropDownList(QWidget* parent, QRect& rect) {
    auto* combo = new DropDownList(parent);
    combo->setEditable(false);
    const int closedHeight = combo->sizeHint().height();
    const int itemHeight = combo->fontMetrics().height() + 2;
    combo->setMaxVisibleItems(std::max(1, (rect.height() - closedHeight) / itemHeight));
    rect.setHeight(closedHeight);
    return combo;
}

// A static icon sizes itself to the icon.
QLabel* MakeIcon(QWidget* parent, QRect& rect) {
    auto* label = new QLabel(parent);
    label->setPixmap(AppIcon().pixmap(32, 32));
    rect.setSize(QSize(32, 32));
    return label;
}

QWidget* MakeControl(QWidget* parent, const ControlTemplate& control, QRect& rect) {
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(QString::fromUtf8(control.text), parent);
            button->setDefault(control.kind == ControlKind::DefaultPushButton);
            return button;
        }
        case ControlKind::DropDownList:
            return MakeDropDownList(parent, rect);
        case ControlKind::Icon:
            return MakeIcon(parent, rect);
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            return bar;
        }
        default:
            return MakeText(parent, control);
    }
}

}  // namespace

QList<QWidget*> BuildFromTemplate(QDialog& dialog, const dialog_template::DialogTemplate& dlg) {
    const DialogUnits units(dialog.font());
    QList<QWidget*> controls;
    QWidget* previousFocusable = nullptr;
    for (const ControlTemplate& control : dlg.controls) {
        QRect rect = units.Rect(control.x, control.y, control.cx, control.cy);
        QWidget* widget = MakeControl(&dialog, control, rect);
        if (control.id != IDC_STATIC) {
            widget->setObjectName(QString::number(control.id));
        }
        widget->setGeometry(rect);
        widget->setEnabled(control.enabled);
        widget->setVisible(control.visible);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previousFocusable != nullptr) {
                QWidget::setTabOrder(previousFocusable, widget);
            }
            previousFocusable = widget;
        }
        controls.append(widget);
    }
    dialog.setFixedSize(units.X(dlg.cx), units.Y(dlg.cy));
    dialog.setWindowTitle(QString::fromUtf8(dlg.caption));
    return controls;
}

QWidget* FindControl(const QWidget& dialog, int id) {
    return dialog.findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}
