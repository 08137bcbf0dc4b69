#include "failure.h"

#include <QCoreApplication>

namespace RuntimeError {

QString description(int32_t number)
{
    switch (number) {
    case InvalidArgument: return QStringLiteral("Llamada a procedimiento o argumento no válidos");
    case Overflow: return QStringLiteral("Desbordamiento");
    case TypeMismatch: return QStringLiteral("No coinciden los tipos");
    case FileNotFound: return QStringLiteral("No se ha encontrado el archivo");
    case DeviceIoError: return QStringLiteral("Error de E/S de dispositivo");
    case BadFileName: return QStringLiteral("Nombre de archivo incorrecto");
    case PermissionDenied: return QStringLiteral("Permiso denegado");
    case PathFileAccessError: return QStringLiteral("Error de acceso a la ruta o el archivo");
    case PathNotFound: return QStringLiteral("No se ha encontrado la ruta de acceso");
    default: return QStringLiteral("Error definido por la aplicación o el objeto");
    }
}

Failure failure(int32_t number)
{
    return Failure(number, QStringLiteral("Retratix"), description(number));
}

}  // namespace RuntimeError
