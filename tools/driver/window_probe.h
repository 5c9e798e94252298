// Looking at and pressing the windows of another program the way a person would: by title,
// class and caption, with clicks posted to a button. Nothing here needs the other program's
// cooperation. Any thread; the calls never block longer than kTextTimeoutMs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace probe {

// A window that does not answer within this time is read from its stored caption instead.
constexpr UINT kTextTimeoutMs = 1000;

// The text of any window: WM_GETTEXT (which also reads an edit control's contents across
// processes), or the stored caption when the owner is busy.
std::wstring TextOf(HWND window);
// Lower-cased platform class name ("button", "edit", "syslistview32", "#32770").
std::wstring ClassOf(HWND window);

// Descendants of parent (all levels) whose class equals className (any case; empty: any)
// and whose text equals text (empty: any), in the platform's order.
std::vector<HWND> FindDescendants(HWND parent, const std::wstring& className, const std::wstring& text);
// The first such descendant, or null.
HWND FindDescendant(HWND parent, const std::wstring& className, const std::wstring& text);
// A top-level window of process pid with that class and title, or null. pid 0: any process.
HWND FindTopLevel(DWORD pid, const std::wstring& className, const std::wstring& title);

// Presses a button: the platform turns BM_CLICK into a press and release over the button,
// so its owner sees an ordinary click. Posted, because the owner's handler may run for
// minutes. False when the message could not be posted.
bool Press(HWND button);

// Items of a list-view control, 0 when it does not answer.
int ListItemCount(HWND list);
// Position of a progress bar, -1 when it does not answer.
int ProgressPosition(HWND bar);

}  // namespace probe
