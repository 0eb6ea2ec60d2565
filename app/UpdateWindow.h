#pragma once
// The on-screen view of TUpdateForm: an FLTK window that mirrors the form's
// control model. It is created only when the window is to be shown, so a run
// that ends during start-up never opens the display.
#include <optional>
#include <string>

class TUpdateForm;

// Opens the display, shows `startupError` (ANSI) in an error box when given,
// then shows the window centred on the screen and runs the message loop until
// the window is closed or the form posts its end request. Returns the
// program's exit code. Without a display FLTK ends the program with an error.
int RunUpdateWindow(TUpdateForm& form, const std::optional<std::string>& startupError);
