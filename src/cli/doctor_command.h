#pragma once

#include <QStringList>

// `quorvel doctor`: one short screen on why capture or the tray may not work
// on this desktop and what to do about it. Exits 0 when capture can work
// here, 1 when it cannot (no display, no way to see the screen).
// Arguments start after the word "doctor".
int runDoctorCommand(const QStringList& arguments);
