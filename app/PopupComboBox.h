#pragma once

#include <QComboBox>

// A drop-down list that says when it is about to open, so its owner can bring the entries
// up to date first (devices come and go while the window is open).
class PopupComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit PopupComboBox(QWidget* parent = nullptr);

    void showPopup() override;

signals:
    // Before the list opens; the entries may be replaced in the handler.
    void aboutToShowPopup();
};
