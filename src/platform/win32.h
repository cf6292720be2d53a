// What win32.cpp, the platform on Windows, lends the files beside it:
// win32_tray.cpp, glidew.exe's icon in the notification area.
#pragma once

#include "platform.h"

// Asks the loop to pause or resume glide, for the icon and the hotkey:
// nobody waits for the answer.
void ask_toggle();

// Keeps a choice made in the icon's menu for the loop.
void ask_choice(const Chosen &chosen);

// Ends glide with the given status, its icon taken out of the notification
// area first: no ghost is left there.
[[noreturn]] void end_glide(int status);
