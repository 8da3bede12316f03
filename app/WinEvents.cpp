#include "WinEvents.h"

#include "WinText.h"

namespace app {

TKeyCode VirtualKeyOf(const QKeyEvent& event) {
  const int key = event.key();
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<TKeyCode>('0' + (key - Qt::Key_0));
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<TKeyCode>('A' + (key - Qt::Key_A));
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<TKeyCode>(vkF1 + (key - Qt::Key_F1));
  switch (key) {
    case Qt::Key_Backspace: return vkBack;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return vkTab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return vkReturn;
    case Qt::Key_Shift: return vkShift;
    case Qt::Key_Control: return vkControl;
    case Qt::Key_Alt: return vkMenu;
    case Qt::Key_Escape: return vkEscape;
    case Qt::Key_Space: return vkSpace;
    case Qt::Key_PageUp: return vkPrior;
    case Qt::Key_PageDown: return vkNext;
    case Qt::Key_End: return vkEnd;
    case Qt::Key_Home: return vkHome;
    case Qt::Key_Left: return vkLeft;
    case Qt::Key_Up: return vkUp;
    case Qt::Key_Right: return vkRight;
    case Qt::Key_Down: return vkDown;
    case Qt::Key_Insert: return vkInsert;
    case Qt::Key_Delete: return vkDelete;
    default: return vkUnknown;
  }
}

TShiftState ShiftStateOf(const QKeyEvent& event) {
  TShiftState shift;
  const Qt::KeyboardModifiers mods = event.modifiers();
  // Shift+Tab arrives as Backtab, sometimes without the Shift modifier.
  if ((mods & Qt::ShiftModifier) || event.key() == Qt::Key_Backtab) shift.Include(ssShift);
  if (mods & Qt::AltModifier) shift.Include(ssAlt);
  if (mods & Qt::ControlModifier) shift.Include(ssCtrl);
  return shift;
}

std::string TypedChars(const QKeyEvent& event) {
  const int key = event.key();
  switch (key) {
    case Qt::Key_Backspace: return std::string(1, '\b');
    case Qt::Key_Return:
    case Qt::Key_Enter: return std::string(1, '\r');
    case Qt::Key_Escape: return std::string(1, '\x1b');
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete: return {};
    default: break;
  }
  const Qt::KeyboardModifiers mods = event.modifiers();
  if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier)) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return std::string(1, static_cast<char>(key - Qt::Key_A + 1));
    return {};
  }
  return ToWin1252(event.text());
}

}  // namespace app
