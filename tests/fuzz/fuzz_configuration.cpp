// The configuration reader: one value looked up in a Polidex.ini.
// Input: the section name, a line feed, the key name, a line feed, then the file's bytes; the names
// are Windows-1252 like the file, so that they can meet its letters beyond ASCII.

#include "fuzz_support.h"
#include "startup/mod_glob.h"
#include "startup/windows_1252.h"

#include <QStringDecoder>

namespace {

// The name with its ASCII letters in the other case and blanks and tabs around it: the lookup
// ignores both.
QString disguised(const QString& name)
{
    QString other = name;
    for (QChar& c : other) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
        else if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() - u'A' + u'a');
    }
    return QStringLiteral(" \t") + other + QStringLiteral("\t ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = fuzz::split(data, size, 3);
    const QString section = ModGlob::decodeWindows1252ByTable(parts.at(0));
    const QString key = ModGlob::decodeWindows1252ByTable(parts.at(1));
    const QByteArray& content = parts.at(2);

    // Windows-1252 is one character per byte: Qt's converter and the table read every text alike.
    static const bool qtConverts = QStringDecoder("windows-1252").isValid();
    const QString text = ModGlob::decodeWindows1252(content);
    fuzz::check(text.size() == content.size(), QStringLiteral("one character per byte"));
    if (qtConverts)
        fuzz::check(text == ModGlob::decodeWindows1252ByTable(content), QStringLiteral("converter and table agree"));

    // With an empty default, an empty result means not found (or empty).
    const QString value = ModGlob::ReadIniText(content, section, key, QString());
    fuzz::check(value.size() <= 254, QStringLiteral("value cut at 254 characters"));
    fuzz::check(text.contains(value), QStringLiteral("value taken from the file"));
    fuzz::check(ModGlob::ReadIniText(content, disguised(section), disguised(key), QString()) == value,
                QStringLiteral("names without regard to ASCII case or surrounding blanks"));
    return 0;
}
