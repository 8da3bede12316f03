#pragma once
// The vocabulary of the window's events: handler types, key codes and shift
// states as the form's key handlers see them. Key codes are the platform's
// virtual-key numbers (Down is 40, Up 38, Tab 9, Enter 13), and a handler
// consumes a key by setting its code, or its character, to 0.

#include <QKeyEvent>
#include <cstdint>
#include <functional>
#include <string>

#include "FlagSet.h"

namespace app {

using TKeyCode = std::uint16_t;

inline constexpr TKeyCode vkBack = 8;
inline constexpr TKeyCode vkTab = 9;
inline constexpr TKeyCode vkReturn = 13;
inline constexpr TKeyCode vkShift = 16;
inline constexpr TKeyCode vkControl = 17;
inline constexpr TKeyCode vkMenu = 18;
inline constexpr TKeyCode vkEscape = 27;
inline constexpr TKeyCode vkSpace = 32;
inline constexpr TKeyCode vkPrior = 33;
inline constexpr TKeyCode vkNext = 34;
inline constexpr TKeyCode vkEnd = 35;
inline constexpr TKeyCode vkHome = 36;
inline constexpr TKeyCode vkLeft = 37;
inline constexpr TKeyCode vkUp = 38;
inline constexpr TKeyCode vkRight = 39;
inline constexpr TKeyCode vkDown = 40;
inline constexpr TKeyCode vkInsert = 45;
inline constexpr TKeyCode vkDelete = 46;
inline constexpr TKeyCode vkF1 = 112;
// Any key without a number of its own (punctuation, media keys): distinct
// from every code above, so that no such key is taken for an arrow.
inline constexpr TKeyCode vkUnknown = 0xFF;

enum TShiftStateItem { ssShift, ssAlt, ssCtrl };
using TShiftState = TSet<TShiftStateItem>;

using TNotifyEvent = std::function<void(QObject* sender)>;
using TKeyEvent = std::function<void(QObject* sender, TKeyCode& key, TShiftState shift)>;
// The character is a Windows-1252 byte.
using TKeyPressEvent = std::function<void(QObject* sender, char& key)>;

TKeyCode VirtualKeyOf(const QKeyEvent& event);
TShiftState ShiftStateOf(const QKeyEvent& event);

// The characters a key press types, as Windows-1252 bytes, the way the
// window's key handlers were written to see them: Backspace types 8, Enter 13,
// Esc 27, Ctrl+letter the control character (Ctrl+V is 22); Tab, Delete and
// keys without text type nothing.
std::string TypedChars(const QKeyEvent& event);

}  // namespace app
