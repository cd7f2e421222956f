// Message boxes of the core, shown with MessageBoxA and owned by a window.
#pragma once

#include <windows.h>

#include "jobs/message.h"

namespace farsend::app::win32 {

// Shows `message` modally, owned by `owner`, on the calling thread; returns
// once it is dismissed. Cancel (or Esc, or the close box) answers Cancel;
// every other ending answers OK.
jobs::MessageAnswer ShowMessageBox(HWND owner, const jobs::Message& message);

}  // namespace farsend::app::win32
