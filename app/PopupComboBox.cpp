#include "app/PopupComboBox.h"

PopupComboBox::PopupComboBox(QWidget* parent) : QComboBox(parent) {}

void PopupComboBox::showPopup() {
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

#include "moc_PopupComboBox.cpp"
