#include "WinDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include "AppInfo.h"
#include "WinText.h"
#include "common/Exception.h"
#include "common/RegionalSettings.h"

namespace app {
namespace {

MessageBoxHook& CurrentHook() {
  static MessageBoxHook hook;
  return hook;
}

QMessageBox::Icon QtIcon(TMsgIcon icon) {
  switch (icon) {
    case miQuestion: return QMessageBox::Question;
    case miInformation: return QMessageBox::Information;
    case miStop: break;
  }
  return QMessageBox::Critical;
}

TModalResult RunQtBox(const MessageBoxRequest& request) {
  const bool yesNo = request.buttons == mbYesNo;
  QMessageBox box(QtIcon(request.icon), request.caption, request.text,
                  yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, request.parent);
  box.setTextFormat(Qt::PlainText);
  if (yesNo) {
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
  }
  const int answer = box.exec();
  if (!yesNo) return mrOk;
  return answer == QMessageBox::Yes ? mrYes : mrNo;
}

}  // namespace

TModalResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                        TMsgIcon icon, TMsgButtons buttons) {
  const MessageBoxRequest request{text, caption, icon, buttons, parent};
  if (const MessageBoxHook& hook = CurrentHook()) return hook(request);
  return RunQtBox(request);
}

ScopedMessageBoxHook::ScopedMessageBoxHook(MessageBoxHook hook) : saved_(std::move(CurrentHook())) {
  CurrentHook() = std::move(hook);
}

ScopedMessageBoxHook::~ScopedMessageBoxHook() { CurrentHook() = std::move(saved_); }

std::string DefaultErrorText(std::string_view message) {
  std::string text(message);
  if (text.empty()) return text;
  // Find where the last character starts: with a far-east code page a lead
  // byte and the byte after it are one character.
  const da::RegionalSettings& regional = da::Regional();
  std::size_t last = 0;
  for (std::size_t i = 0; i < text.size();) {
    last = i;
    const bool pair = regional.IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
    i += pair ? 2 : 1;
  }
  if (static_cast<unsigned char>(text[last]) > static_cast<unsigned char>('.')) text += '.';
  return text;
}

void ShowDefaultError(const std::exception& error) noexcept {
  if (dynamic_cast<const da::EAbort*>(&error) != nullptr) return;
  try {
    // Our own errors carry Windows-1252 text; what() of any other error is
    // read the same way, byte for byte.
    const auto* own = dynamic_cast<const da::Exception*>(&error);
    const std::string message = own != nullptr ? own->Message() : std::string(error.what());
    MessageBox(QApplication::activeWindow(), FromWin1252(DefaultErrorText(message)),
               QString::fromUtf8(ApplicationTitle()), miStop, mbOK);
  } catch (...) {
    // Nothing is left to report the failure of the error display itself.
  }
}

void RunGuarded(const std::function<void()>& handler) noexcept {
  try {
    if (handler) handler();
  } catch (const std::exception& error) {
    ShowDefaultError(error);
  } catch (...) {
    ShowDefaultError(da::Exception("Erro desconhecido"));
  }
}

}  // namespace app
