#include "engine/InputPicker.h"

namespace quorvel {

void InputPicker::refresh() {
    status_ = "Choose the input device in your system's sound settings; channel selection is below.";
}

}  // namespace quorvel
