#pragma once
// The window toolkit operations the scheduler's handlers use: show a page,
// read and set 8-bit texts, show and hide, repaint at once, set the focus,
// close. The controls themselves (WinControls.h) carry the rest: check
// lists, check boxes, edits with their filters, the pickers; the message
// box and the default error display are in WinDialogs.h, the form and its
// keyboard in WinForm.h.

#include <QString>
#include <string>
#include <string_view>

#include "WinControls.h"
#include "WinDialogs.h"
#include "WinForm.h"

namespace app {

// Makes page `index` the active page (TPageControl::SetActivePageIndex):
// its OnShow runs every time, and focus moving into it runs its OnEnter.
void ShowPage(TPageControl* pages, int index);

// The text of a label, an edit, a button or a check box, as 8-bit text.
// Any other widget raises EAssertionFailed.
std::string Text(const QWidget* control);
void SetText(QWidget* control, std::string_view text);
// The same with a caption as the source writes it.
QString Caption(const QWidget* control);
void SetCaption(QWidget* control, const QString& caption);

// A hidden control takes no input and is skipped by focus movement.
void SetVisible(QWidget* control, bool visible);

// Paints the control now, so that its new text shows before the handler
// goes on with work that blocks the window.
void RepaintNow(QWidget* control);

// Puts the input focus on a control of its form.
void SetFocus(QWidget* control);

}  // namespace app
