#include "app/SampleRateBox.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>

#include <algorithm>

SampleRateBox::SampleRateBox(QComboBox& box) : QObject(&box), box_(box) {
    // A rate comes out as typed: the box completes nothing from its list (completing "4" to
    // "44100" would leave no room for 48000) and adds no typed rate to it.
    box_.setCompleter(nullptr);
    box_.installEventFilter(this);
    box_.lineEdit()->installEventFilter(this);
    // Text put in by other means than a typed key (the context menu's paste, the mouse's
    // selection paste) keeps only what the rate filter lets through: up to five digits.
    connect(box_.lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        QString digits;
        for (const QChar c : text) {
            if (c >= u'0' && c <= u'9' && digits.size() < 5) {
                digits += c;
            }
        }
        if (digits != text) {
            box_.lineEdit()->setText(digits);
        }
    });
}

bool SampleRateBox::cboSamplerate_KeyPress(QChar character) const {
    if (character == QChar(8)) {
        return true;
    }
    // The typed digit replaces the selected text, so the selection does not count towards
    // the five digits.
    const QLineEdit* edit = box_.lineEdit();
    return character >= u'0' && character <= u'9' &&
           edit->text().size() - edit->selectedText().size() < 5;
}

bool SampleRateBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == &box_ || watched == box_.lineEdit())) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Paste)) {
            return true;
        }
        // Keys that type no character (arrows, Home, Delete) and focus moves work as usual;
        // every typed character goes through the rate filter.
        const bool typesCharacter = !key->text().isEmpty() && key->key() != Qt::Key_Delete &&
                                    key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab;
        if (typesCharacter) {
            return !cboSamplerate_KeyPress(key->text().front());
        }
    }
    return QObject::eventFilter(watched, event);
}

std::optional<std::int32_t> SampleRateBox::Rate() const {
    const QString text = box_.currentText().trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    // Long digit strings are capped: anything that large is refused anyway.
    constexpr std::int32_t cap = 10000000;
    std::int32_t rate = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        rate = std::min(rate * 10 + (c.unicode() - u'0'), cap);
    }
    return rate;
}
