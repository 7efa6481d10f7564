#include "engine/InputPicker.h"

namespace quorvel {

void InputPicker::setSelected(const QString& id) {
    if (id == selected_) return;
    selected_ = id;
    emit selectedChanged();
}

void InputPicker::refresh() {
    const QString text =
        "Choose the input device in your system's sound settings; channel selection is below.";
    if (text == status_) return;
    status_ = text;
    emit statusChanged();
}

}  // namespace quorvel
