// Real pointer input for the window tests: the X server's test extension
// moves the server's pointer and presses its buttons, so GTK receives the
// events a person's mouse would send. Kept apart from the tests because
// Xlib's macros (None, Status, ...) clash with GoogleTest's names.
#pragma once

typedef struct _GdkDisplay GdkDisplay;

namespace downsql::ui::test_input {

// Moves the pointer to (x, y) of the root window and clicks the left button
// count times there (twice: a double click).
void ClickAt(GdkDisplay* display, int x, int y, int count);

}  // namespace downsql::ui::test_input
