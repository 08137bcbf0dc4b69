#include "mod_glob.h"

#include "common/messages.h"
#include "common/numbers.h"

namespace ModGlob {
namespace {

QString friendlyText(int32_t number)
{
    switch (number) {
    case ProviderError::Unspecified:  // what the user meets as a locked record
    case ProviderError::AbortLimitReached:
        return QStringLiteral(" Registro Bloqueado por otro Usuario. Inténtelo en unos segundos... ");
    case ProviderError::PermissionDenied: return QStringLiteral(" Permiso Denegado ");
    case ProviderError::IntegrityViolation: return QStringLiteral(" Ha Introducido un Codigo Existente ");
    case ProviderError::DuplicateTable: return QStringLiteral(" Error al Crear una Tabla ya Existente ");
    default: return QString();
    }
}

QString messageFor(const Failure& failure)
{
    const QString friendly = friendlyText(failure.number);
    if (!friendly.isEmpty())
        return friendly;
    const QString lineBreak = QStringLiteral("\r\n");
    return lineBreak + QStringLiteral("     VB Error # ") + Numbers::toSignedText(failure.number) + lineBreak
        + QStringLiteral("        Origen : ") + failure.source + lineBreak + QStringLiteral("  Descripción : ")
        + failure.description;
}

}  // namespace

void ReportError(const Failure& failure)
{
    showMessage(messageFor(failure), MessageIcon::Critical, QStringLiteral("Error"));
}

}  // namespace ModGlob
