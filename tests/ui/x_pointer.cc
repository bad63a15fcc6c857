// Pointer input through the X test extension.
#include "tests/ui/x_pointer.h"

#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace downsql::ui::test_input {

void ClickAt(GdkDisplay* display, int x, int y, int count) {
  Display* x_display = GDK_DISPLAY_XDISPLAY(display);
  XTestFakeMotionEvent(x_display, -1, x, y, CurrentTime);
  for (int i = 0; i < count; ++i) {
    XTestFakeButtonEvent(x_display, 1, True, CurrentTime);
    XTestFakeButtonEvent(x_display, 1, False, CurrentTime);
  }
  XFlush(x_display);
}

}  // namespace downsql::ui::test_input
