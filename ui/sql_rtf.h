// The editor's text with SQL colours as a Rich Text document, for editor
// controls that take RTF (the Win32 RichEdit).
//
// Colours: comments ("--" to the end of the line, "/* ... */") teal, SQL
// keywords orange (RGB 255,128,0), numbers blue, strings ('...', with ''
// inside) red and bold; everything else in the default colour. The font is
// "Courier New" 10 point. The result is plain ASCII: characters beyond it
// are written as \uN? escapes, so it does not depend on any code page.
#pragma once

#include <string>
#include <string_view>

namespace downsql::ui {

// text is UTF-16; its lines may end in CR LF, LF or CR, and a line break at
// the very end starts one more (empty) paragraph.
std::string SqlRtf(std::u16string_view text);

}  // namespace downsql::ui
