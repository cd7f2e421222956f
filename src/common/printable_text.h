// Text that came from outside (a target's reply, a bridge's serial string, a
// file name, a database's error) made fit for a terminal: control characters
// would otherwise move the cursor, clear the screen, retitle the window or
// split one unit's line in two. JSON output needs none of this: its encoder
// escapes them already.
#pragma once

#include <string>
#include <string_view>

namespace farsend {

// `text` with every control character written out: "\n", "\r", "\t", "\e",
// else "\xNN" for the C0 controls and DEL; "\u0080".."\u009f" for the C1
// controls in UTF-8; "\xNN" for each byte that is not part of valid UTF-8
// (a lone 0x9b is a control sequence's start on some terminals). Printable
// characters, backslashes included, are left as they are, so that ordinary
// text and Windows paths read unchanged.
std::string PrintableText(std::string_view text);

}  // namespace farsend
