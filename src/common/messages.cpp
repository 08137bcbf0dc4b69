#include "messages.h"

#include <QMessageBox>

#include <cstdio>

namespace {
Messages* installed = nullptr;
}

Messages& Messages::current()
{
    static DialogMessages dialogs;
    return installed ? *installed : dialogs;
}

void Messages::install(Messages* messages) { installed = messages; }

void showMessage(const QString& text, MessageIcon icon, const QString& title)
{
    Messages::current().show({text, icon, title});
}

void DialogMessages::show(const ShownMessage& message)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (message.icon) {
    case MessageIcon::None: icon = QMessageBox::NoIcon; break;
    case MessageIcon::Critical: icon = QMessageBox::Critical; break;
    case MessageIcon::Exclamation: icon = QMessageBox::Warning; break;
    case MessageIcon::Information: icon = QMessageBox::Information; break;
    case MessageIcon::Question: icon = QMessageBox::Question; break;
    }
    QMessageBox box(icon, message.title, message.text, QMessageBox::Ok);
    box.exec();
}

void StandardErrorMessages::show(const ShownMessage& message)
{
    const QString line = message.title + QStringLiteral(": ") + message.text + QLatin1Char('\n');
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
