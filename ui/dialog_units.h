#pragma once

// Dialog templates give positions and sizes in dialog units: a quarter of the dialog
// font's average character width across, an eighth of its height down. Laying a form
// out in them keeps every caption in its box whatever font the desktop uses.

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int du) const;
    int Y(int du) const;
    QRect ToPixels(const QRect& du) const;
    QSize ToPixels(const QSize& du) const;

private:
    int m_baseX;
    int m_baseY;
};

// Places each direct child of `dialog` whose form geometry is in dialog units, below a
// menu bar if there is one, and fixes the dialog's size to its client area `client`
// plus the menu bar. Safe to call again after a font change.
void LayOutInDialogUnits(QWidget& dialog, const QSize& client, QWidget* menuBar = nullptr);
