#pragma once
// The on-screen view of TUpdateForm, one per system, each mirroring the
// form's control model: fltk/UpdateWindow.cpp draws it with FLTK on Linux,
// win32/UpdateWindow.cpp with the system's own controls on Windows. It is
// created only when the window is to be shown, so a run that ends during
// start-up never opens the display.
class TUpdateForm;

// Shows the window centred on the screen and runs the message loop until the
// window is closed or the form posts its end request. An error that reaches a
// handler goes to the form's ReportError. Call it only when a display can be
// used (platform::DisplayAvailable).
void RunUpdateWindow(TUpdateForm& form);
