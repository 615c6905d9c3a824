#include "progress_dlg.h"

#include "template_builder.h"

ScreenRect WindowRectOf(const QWidget& window) {
    const QRect frame = window.frameGeometry();
    return {frame.x(), frame.y(), frame.x() + frame.width(), frame.y() + frame.height()};
}

QPoint CenteredTopLeft(const ScreenRect& parent, const ScreenRect& self) {
    const int x = (parent.left + parent.right) / 2 - (self.right - self.left) / 2;
    const int y = (parent.top + parent.bottom) / 2 - (self.bottom - self.top) / 2;
    return {x, y};
}

CProgressDlg::CProgressDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    BuildFromTemplate(*this, dialog_template::kProgressDialog);
    m_progress = qobject_cast<QProgressBar*>(FindControl(*this, IDC_PROGRESS));
    setModal(false);
    CentreOver(parent);
    show();
    // The frame of a window is known only once it is on screen on some platforms.
    CentreOver(parent);
    raise();
    activateWindow();
}

void CProgressDlg::CentreOver(const QWidget* parent) {
    if (parent != nullptr) {
        winId();  // the native window, so that the frame counts in the rectangle
        move(CenteredTopLeft(WindowRectOf(*parent->window()), WindowRectOf(*this)));
    }
}

void CProgressDlg::SetRange32(int low, int high) {
    m_progress->setRange(low, high);
}

void CProgressDlg::SetPos(int position) {
    m_progress->setValue(position);
}

void CProgressDlg::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}
