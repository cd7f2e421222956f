// A modal message box as the core asks for it: text, caption and style. The
// Win32 shell shows it with MessageBoxA; the command-line front end prints it
// and answers by itself; tests record it.
#pragma once

#include <string>

namespace farsend::jobs {

// Icon and buttons, with the values of the Windows message-box styles.
enum class MessageStyle : unsigned {
    Plain = 0x00,            // no icon, OK
    Error = 0x10,            // stop icon, OK
    Warning = 0x30,          // exclamation icon, OK
    WarningOkCancel = 0x31,  // exclamation icon, OK and Cancel
    Notice = 0x40,           // information icon, OK
};

enum class MessageAnswer { Ok, Cancel };

struct Message {
    std::string text;
    std::string caption;
    MessageStyle style = MessageStyle::Error;

    bool operator==(const Message& other) const {
        return text == other.text && caption == other.caption && style == other.style;
    }
};

}  // namespace farsend::jobs
