// What has the focus on Windows (win32_focus.cpp), for win32.cpp: the
// foreground window's program, and whether it is full screen.
#pragma once

#include "platform.h"

// Asks Windows to tell of every change of the foreground window, out of
// context: its word comes to this thread's message queue.
void follow_focus();

// Whether Windows has told of a change since the last look: of the
// foreground window, or of where that window is.
bool focus_told();

// Looks at the foreground window, as told of or not: its program, by the
// executable's name with and without ".exe", and whether it fills its
// monitor or its program holds the cursor in a part of the screen (as
// games do); the program's friendliest name, its description. The desktop,
// the taskbar and glide's own menu are no program, but the shell's, and
// Explorer's windows are never full screen.
Focus look_at_focus();
