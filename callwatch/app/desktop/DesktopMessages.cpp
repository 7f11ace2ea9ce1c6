#include "app/desktop/DesktopMessages.h"

#include <QMessageBox>

namespace {
MessageHandler& Handler() {
  static MessageHandler handler;
  return handler;
}
}  // namespace

void ShowMessage(QWidget* parent, const QString& text) {
  if (Handler()) {
    Handler()(parent, text);
    return;
  }
  QMessageBox::warning(parent, "Callwatch", text);
}

void SetMessageHandler(MessageHandler handler) { Handler() = std::move(handler); }
