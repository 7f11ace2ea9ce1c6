#pragma once
// The program's message boxes. Tests replace what shows them, to read the texts.
#include <QString>
#include <functional>

class QWidget;

using MessageHandler = std::function<void(QWidget* parent, const QString& text)>;
void ShowMessage(QWidget* parent, const QString& text);
// None: a modal box titled "Callwatch".
void SetMessageHandler(MessageHandler handler);
// The same box without waiting for it: for a window that the telephony events may take away
// while the box is up (a call screen whose call ends). The box goes with its parent.
void ShowMessageWithoutWaiting(QWidget* parent, const QString& text);

// The string table.
namespace messages {
constexpr const char* kNoRequestRecipient = "There is no registered Telephony request recipient.";
constexpr const char* kRequestRefused = "The Telephony request recipient has refused your request.";
constexpr const char* kCannotDial = "The Telephony request recipient is unable to dial the phone number you entered.";
constexpr const char* kCannotInitialise = "Can't initialize the line of Windows Telephony.";
constexpr const char* kCannotOpenMessages = "Can't open Messages folder.";
}  // namespace messages
