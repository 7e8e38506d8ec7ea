// A list box with one check box per line, drawn by its owner: the box at the left of each
// line, ticked or not, followed by the line's text. The tick of a line is kept as the line's
// item data (1 ticked, 0 not), so anyone holding the list's window can read it with
// LB_GETITEMDATA. A click on a box or the space bar on the current line toggles the tick and
// sends WM_COMMAND with CLBN_CHKCHANGE to the parent.
//
// The list must have LBS_OWNERDRAWFIXED and LBS_HASSTRINGS; its parent forwards
// WM_MEASUREITEM and WM_DRAWITEM to MeasureItem and DrawItem.
#pragma once

#include <windows.h>

namespace tessaly::uninstaller::checklist {

// Takes over the list's mouse and keyboard handling of the check boxes.
void Attach(HWND list);

void MeasureItem(HWND dialog, MEASUREITEMSTRUCT* measure);
void DrawItem(const DRAWITEMSTRUCT* draw);

bool IsChecked(HWND list, int index);
// Changes the tick and tells the parent, as a click would.
void Toggle(HWND list, int index);

}  // namespace tessaly::uninstaller::checklist
