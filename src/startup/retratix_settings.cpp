#include "retratix_settings.h"

#include "mod_glob.h"

#include "common/failure.h"
#include "common/platform.h"
#include "photos/photo_preparation.h"

#include <QDir>
#include <QFileInfo>

const RetratixSettings::Key RetratixSettings::Fit{"AjustarFotos", "fit"};
const RetratixSettings::Key RetratixSettings::Upright{"EnderezarFotos", "upright"};
const RetratixSettings::Key RetratixSettings::Formats{"Formatos", "formats"};
const RetratixSettings::Key RetratixSettings::Originals{"CarpetaOriginales", "originals"};

bool RetratixSettings::changesPhotos() const
{
    return fitPhotos || uprightPhotos ||
           std::any_of(formats.cbegin(), formats.cend(), [](const QString& format) { return !Photos::isJpegFormat(format); });
}

QString RetratixSettings::originalsFor(const QString& photoFolder) const
{
    if (!originalsFolder.isEmpty())
        return originalsFolder;
    if (changesPhotos())
        return QDir(photoFolder).filePath(QStringLiteral("originales"));
    return {};
}

namespace ModGlob {
namespace {

const QString Section = QStringLiteral("Retratix");

// A value and where it came from, for the message that refuses it.
struct Setting {
    QString value;
    QString origin;  // "AjustarFotos en [Retratix] de Polidex.ini" or "--fit"
};

Setting read(const RetratixSettings::Key& key, const QHash<QString, QString>& options)
{
    const QString option = QLatin1String(key.option);
    if (options.contains(option))
        return {options.value(option).trimmed(), QStringLiteral("--") + option};
    return {ReadIniValue(IniFilePath, Section, QLatin1String(key.name), QString()).trimmed(),
            QLatin1String(key.name) + QStringLiteral(" en [Retratix] de ") + IniFileName};
}

[[noreturn]] void refuse(const Setting& setting, const QString& why)
{
    throw Failure(RuntimeError::InvalidArgument, Application::title(),
                  setting.origin + QStringLiteral(": «") + setting.value + QStringLiteral("» no es válido; ") + why);
}

bool readSwitch(const RetratixSettings::Key& key, const QHash<QString, QString>& options)
{
    const Setting setting = read(key, options);
    if (setting.value.isEmpty() || setting.value == QLatin1String("0"))
        return false;
    if (setting.value == QLatin1String("1"))
        return true;
    refuse(setting, QStringLiteral("se espera 0 o 1."));
}

QStringList readFormats(const QHash<QString, QString>& options)
{
    const Setting setting = read(RetratixSettings::Formats, options);
    const QStringList known = Photos::knownFormats();
    QStringList formats;
    for (QString format : setting.value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        format = format.trimmed().toLower();
        if (format.startsWith(QLatin1Char('.')))
            format.remove(0, 1);
        if (formats.contains(format))
            continue;
        if (Photos::isHeifFormat(format) && !Photos::readsHeif())
            refuse(setting, QStringLiteral("esta versión del programa no sabe leer fotos HEIF (%1).").arg(format));
        if (!known.contains(format))
            refuse(setting, QStringLiteral("«%1» no es un formato que el programa sepa leer (%2).")
                                .arg(format, known.join(QStringLiteral(", "))));
        formats.append(format);
    }
    // Named JPEG, a photo's ".jpg" counts in any case ("123.JPG", as cameras and Windows write it);
    // without, the lower-case ".jpg" the suite defines stays the only one.
    if (std::any_of(formats.cbegin(), formats.cend(), Photos::isJpegFormat) &&
        !formats.contains(QLatin1String("jpg")))
        formats.append(QStringLiteral("jpg"));
    return formats;
}

QString readOriginalsFolder(const QHash<QString, QString>& options)
{
    const Setting setting = read(RetratixSettings::Originals, options);
    if (setting.value.isEmpty())
        return {};
    const QString folder = QDir::cleanPath(
        QDir(Platform::current().programFolder()).absoluteFilePath(QDir::fromNativeSeparators(setting.value)));
    // The folder, or the nearest folder above it that exists, must take new files.
    QFileInfo existing(folder);
    while (!existing.exists() && existing.absoluteFilePath() != existing.absolutePath())
        existing = QFileInfo(existing.absolutePath());
    if (!existing.isDir() || !existing.isWritable())
        refuse(setting, QStringLiteral("no es una carpeta donde se puedan guardar archivos."));
    return folder;
}

}  // namespace

RetratixSettings LoadRetratixSettings(const QHash<QString, QString>& options)
{
    RetratixSettings settings;
    settings.fitPhotos = readSwitch(RetratixSettings::Fit, options);
    settings.uprightPhotos = readSwitch(RetratixSettings::Upright, options);
    settings.formats = readFormats(options);
    settings.originalsFolder = readOriginalsFolder(options);
    return settings;
}

}  // namespace ModGlob
