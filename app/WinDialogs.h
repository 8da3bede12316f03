#pragma once
// Modal message boxes and the application's default error display.
//
// Every box goes through one replaceable hook, so that a test under the
// offscreen platform can record the box and answer it without blocking; the
// program itself never sets the hook and gets a real modal QMessageBox.

#include <QString>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace app {

enum TMsgIcon { miStop, miQuestion, miInformation };
enum TMsgButtons { mbOK, mbYesNo };
enum TModalResult { mrNone, mrOk, mrYes, mrNo };

struct MessageBoxRequest {
  QString text;
  QString caption;
  TMsgIcon icon = miStop;
  TMsgButtons buttons = mbOK;
  QWidget* parent = nullptr;  // borrowed; may be null
};

using MessageBoxHook = std::function<TModalResult(const MessageBoxRequest&)>;

// Shows a modal box and returns the button pressed: mrOk for an OK box;
// mrYes or mrNo for a Yes/No box, whose default button (Enter) is No and
// whose Esc and close box answer No. The text is plain text, never markup.
TModalResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                        TMsgIcon icon, TMsgButtons buttons = mbOK);

// Replaces every message box by `hook` for the object's lifetime, then puts
// the previous one back. Not thread-safe: the window has one thread.
class ScopedMessageBoxHook {
 public:
  explicit ScopedMessageBoxHook(MessageBoxHook hook);
  ~ScopedMessageBoxHook();
  ScopedMessageBoxHook(const ScopedMessageBoxHook&) = delete;
  ScopedMessageBoxHook& operator=(const ScopedMessageBoxHook&) = delete;

 private:
  MessageBoxHook saved_;
};

// The text the default error display shows for an error message (8-bit):
// the message, with a full stop appended when its last character sorts after
// "." (a far-east lead byte starts the last character where the regional
// settings say so). An empty message stays empty.
std::string DefaultErrorText(std::string_view message);

// The default error display: a box with the message of `error` (see
// DefaultErrorText), the application title as caption, the stop icon and an
// OK button, over the active window. The silent abort shows nothing.
void ShowDefaultError(const std::exception& error) noexcept;

// Runs an event handler as the message loop does: an error the handler does
// not catch ends it and reaches the default error display; nothing escapes
// into the toolkit, and the window stays usable.
void RunGuarded(const std::function<void()>& handler) noexcept;

}  // namespace app
