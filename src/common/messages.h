#pragma once

#include <QList>
#include <QString>

enum class MessageIcon { None, Critical, Exclamation, Information, Question };

// One modal message with an OK button.
struct ShownMessage {
    QString text;
    MessageIcon icon = MessageIcon::None;
    QString title;
    bool operator==(const ShownMessage&) const = default;
};

// Where the program's message boxes go: dialogs in the program, a record in tests,
// standard error in headless runs. show() returns when the user has closed the message.
class Messages {
public:
    virtual ~Messages() = default;
    virtual void show(const ShownMessage& message) = 0;

    // The messages in use; dialogs until another is installed.
    static Messages& current();
    // Installs messages (not owned); nullptr restores the dialogs.
    static void install(Messages* messages);
};

void showMessage(const QString& text, MessageIcon icon, const QString& title);

class DialogMessages final : public Messages {
public:
    void show(const ShownMessage& message) override;
};

class StandardErrorMessages final : public Messages {
public:
    void show(const ShownMessage& message) override;
};

class RecordingMessages final : public Messages {
public:
    void show(const ShownMessage& message) override { shown.append(message); }
    QList<ShownMessage> shown;
};

// Installs messages for the lifetime of the guard.
class ScopedMessages final {
public:
    explicit ScopedMessages(Messages& messages) { Messages::install(&messages); }
    ~ScopedMessages() { Messages::install(nullptr); }
    ScopedMessages(const ScopedMessages&) = delete;
    ScopedMessages& operator=(const ScopedMessages&) = delete;
};
