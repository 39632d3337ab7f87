#include "app/PopupComboBox.h"

#include <QTimer>

PopupComboBox::PopupComboBox(QWidget* parent) : QComboBox(parent) {
    // The list closes itself before it announces the pick, in one go; any other activation
    // (typed text taken as an entry, arrow keys, wheel) comes without the list closing.
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (listClosing_) {
            listClosing_ = false;
            emit listPicked(index);
        }
    });
}

void PopupComboBox::showPopup() {
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

void PopupComboBox::hidePopup() {
    QComboBox::hidePopup();
    // A pick is announced right after this returns, within the same event; a list closed
    // without a pick (Escape, a click elsewhere) leaves nothing behind once the event is over.
    listClosing_ = true;
    QTimer::singleShot(0, this, [this] { listClosing_ = false; });
}

#include "moc_PopupComboBox.cpp"
