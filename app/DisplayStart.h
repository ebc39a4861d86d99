#pragma once

// Opening the display is the toolkit's: where none can be opened (no session, or pkexec on a Wayland
// desktop without XWayland), it writes several lines and aborts. Between guard() and opened(), the
// program instead ends with one line naming the cause and exit code 1; the toolkit's own messages
// of a start that works are passed on once it has.
namespace DisplayStart {

// Call before the application object is created.
void guard();
// Call once the application object exists.
void opened();

} // namespace DisplayStart
