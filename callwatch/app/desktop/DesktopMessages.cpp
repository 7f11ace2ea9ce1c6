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

void ShowMessageWithoutWaiting(QWidget* parent, const QString& text) {
  if (Handler()) {
    Handler()(parent, text);
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Warning, "Callwatch", text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();
}

void SetMessageHandler(MessageHandler handler) { Handler() = std::move(handler); }
