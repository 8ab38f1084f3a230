#include "dialogs/base/message_id.h"

#include "foundation/message_box.h"
#include "foundation/translate.h"

std::string DialogMessage::Text() const {
    if (!id) return {};
    const std::string format = Translate(id);
    // One pass, so that a value holding "%2" is never filled in again.
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
            const size_t n = static_cast<size_t>(format[i + 1] - '1');
            if (n < args.size()) {
                out += args[n];
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

void ShowDialogMessage(const DialogMessage& message) {
    if (message) AppMessageBox(message.Text().c_str(), MB_OK);
}
