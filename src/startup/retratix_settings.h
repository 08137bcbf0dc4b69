#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The program's own settings, beyond what the suite's other programs share: the section
// [Retratix] of Polidex.ini (the others ignore it), each key also an option of the headless modes.
// With the section absent the program does exactly what it always did.
struct RetratixSettings {
    bool fitPhotos = false;      // AjustarFotos=1, --fit: photos of the size limit or more are fitted
    bool uprightPhotos = false;  // EnderezarFotos=1, --upright: every photo with a rotation tag is turned
    QStringList formats;         // Formatos=png,heic, --formats: extensions that are photos besides .jpg
                                 // (with a JPEG one named, "jpg" too: then .JPG counts)
    QString originalsFolder;     // CarpetaOriginales=PATH, --originals: stored originals go there

    // Whether the program may store other bytes than a photo file's own (JPEG under any of its
    // names is stored as it is).
    bool changesPhotos() const;
    // Where the originals of stored photos go instead of being deleted, for a photo folder: the
    // configured folder; with none, "originales" in the photo folder when photos may be changed,
    // so that a changed photo never loses its only original; else nowhere (they are deleted).
    QString originalsFor(const QString& photoFolder) const;

    // The keys of the section with the headless mode's option for each.
    struct Key {
        const char* name;
        const char* option;
    };
    static const Key Fit, Upright, Formats, Originals;
};

namespace ModGlob {

// The settings of the program's run; read by LoadRetratixSettings at start-up.
inline RetratixSettings Settings;

// Reads [Retratix] of the configuration file (IniFilePath) and checks every value; a value given
// in options (by option name, as "fit", "formats") stands in for the file's. A bad value raises a
// Failure whose description names the key and says what it takes. A relative originals folder is
// taken from the program's folder.
RetratixSettings LoadRetratixSettings(const QHash<QString, QString>& options = {});

}  // namespace ModGlob
