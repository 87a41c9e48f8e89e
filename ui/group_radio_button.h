#pragma once

#include <QFocusEvent>
#include <QRadioButton>

// A radio button that takes the focus when clicked and moves within its group on the
// arrow keys, but stays out of the Tab chain: QAbstractButton would add Tab focus back
// the first time it gets the focus.
class GroupRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void focusInEvent(QFocusEvent* event) override {
        QRadioButton::focusInEvent(event);
        setFocusPolicy(Qt::ClickFocus);
    }
};
