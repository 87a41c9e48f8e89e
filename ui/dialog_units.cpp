#include "dialog_units.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QVariant>
#include <QWidget>

namespace {
constexpr char kFormGeometry[] = "dialogUnitGeometry";

// Rounds half away from zero, as the template's own conversion does.
int Scale(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}
// A caption wider than its box in the desktop's font grows rather than being cut off:
// a centred one on both sides, any other to the right.
QRect FitCaption(const QWidget& widget, QRect box) {
    const bool captioned =
        qobject_cast<const QLabel*>(&widget) || qobject_cast<const QAbstractButton*>(&widget);
    const int missing = captioned ? widget.sizeHint().width() - box.width() : 0;
    if (missing <= 0)
        return box;
    const auto* label = qobject_cast<const QLabel*>(&widget);
    if (label && (label->alignment() & Qt::AlignHCenter))
        return box.adjusted(-missing / 2, 0, missing - missing / 2, 0);
    return box.adjusted(0, 0, missing, 0);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    m_baseX = (metrics.horizontalAdvance(
                   QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) +
               26) /
              52;
    m_baseY = metrics.height();
}

int DialogUnits::X(int du) const {
    return Scale(du, m_baseX, 4);
}

int DialogUnits::Y(int du) const {
    return Scale(du, m_baseY, 8);
}

QRect DialogUnits::ToPixels(const QRect& du) const {
    const int left = X(du.x());
    const int top = Y(du.y());
    return {left, top, X(du.x() + du.width()) - left, Y(du.y() + du.height()) - top};
}

QSize DialogUnits::ToPixels(const QSize& du) const {
    return {X(du.width()), Y(du.height())};
}

void LayOutInDialogUnits(QWidget& dialog, const QSize& client, QWidget* menuBar) {
    const DialogUnits units(dialog.font());
    const int top = menuBar ? menuBar->sizeHint().height() : 0;
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child == menuBar || child->isWindow())
            continue;
        QVariant form = child->property(kFormGeometry);
        if (!form.isValid()) {
            form = child->geometry();
            child->setProperty(kFormGeometry, form);
        }
        child->setGeometry(FitCaption(*child, units.ToPixels(form.toRect())).translated(0, top));
    }
    const QSize area = units.ToPixels(client);
    if (menuBar)
        menuBar->setGeometry(0, 0, area.width(), top);
    dialog.setFixedSize(area.width(), area.height() + top);
}
