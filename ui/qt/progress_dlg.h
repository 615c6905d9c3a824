// CProgressDlg: the modeless window that shows how much of the image the scanner has taken.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QProgressBar>

#include "exchange_io.h"

// A window rectangle in screen coordinates; right and bottom lie just outside the window.
struct ScreenRect {
    int left, top, right, bottom;
};

// The window's rectangle including its frame.
ScreenRect WindowRectOf(const QWidget& window);

// The top-left corner that puts a window of rectangle self over the centre of parent. Each
// half is truncated toward zero on its own, before the subtraction.
QPoint CenteredTopLeft(const ScreenRect& parent, const ScreenRect& self);

// Template 6000: a caption and one bar; no close box. Deleting it destroys the window.
class CProgressDlg : public QDialog, public exchange::IProgressWindow {
    Q_OBJECT

public:
    // Builds the window, centres it over parent, shows it and makes it active.
    explicit CProgressDlg(QWidget* parent);
    // The bar runs from low to high.
    void SetRange32(int low, int high) override;
    // Moves the bar to position.
    void SetPos(int position) override;
    // Sets the window's caption.
    void SetCaption(const std::string& caption) override;

    QProgressBar* m_progress;  // control 6000

private:
    void CentreOver(const QWidget* parent);
};
