#include "app/win32/message_box.h"

namespace farsend::app::win32 {

jobs::MessageAnswer ShowMessageBox(HWND owner, const jobs::Message& message) {
    const int answer = MessageBoxA(owner, message.text.c_str(), message.caption.c_str(),
                                   static_cast<UINT>(message.style));
    return answer == IDCANCEL ? jobs::MessageAnswer::Cancel : jobs::MessageAnswer::Ok;
}

}  // namespace farsend::app::win32
