#pragma once

#include <QComboBox>

// A drop-down list that says when it is about to open, so its owner can bring the entries
// up to date first (devices come and go while the window is open), and that tells a pick
// from its open list apart from text typed into its edit field.
class PopupComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit PopupComboBox(QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    // Before the list opens; the entries may be replaced in the handler.
    void aboutToShowPopup();
    // The user picked the entry at `index` in the open list (mouse or keyboard). Typed text
    // that matches an entry, taken when the edit field loses the focus or on Enter, is no
    // pick; neither are the arrow keys or the wheel on the closed box.
    void listPicked(int index);

private:
    // The open list has just closed: an activation that follows at once is its pick.
    bool listClosing_ = false;
};
