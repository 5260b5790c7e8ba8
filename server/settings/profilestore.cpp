#include "settings/profilestore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include "core/singlebytetext.h"
#include "settings/profiletext.h"

namespace ProfileStore {

namespace {

// A read returns at most this many characters of a value.
constexpr qsizetype kReadCap = 254;

bool isTextType(const QString& type)
{
    return type.toUpper() == QLatin1String("S");
}

// A section or key name that would change the file's structure when written.
bool isWritableName(const QByteArray& name, bool isSection)
{
    if (name.trimmed().isEmpty() || name.contains('\r') || name.contains('\n'))
        return false;
    if (isSection)
        return !name.contains(']');
    return !name.contains('=') && !name.trimmed().startsWith('[') &&
           !name.trimmed().startsWith(';');
}

} // namespace

RootCode reg_resolve_root(const QString& root)
{
    static const QStringList hives = {QStringLiteral("HKCU"), QStringLiteral("HKLM"),
                                      QStringLiteral("HKU"),  QStringLiteral("HKDD"),
                                      QStringLiteral("HKCC"), QStringLiteral("HKCR")};
    if (hives.contains(root.toUpper()))
        return Registry;
    if (root.isEmpty())
        return Unrecognised;
    // Only an existing ordinary file: not a folder, not a hidden file.
    const QFileInfo info(root);
    if (info.exists() && info.isFile() && !info.isHidden())
        return ProfileFile;
    return Unrecognised;
}

bool holdsValue(const QString& value)
{
    return value.size() <= kReadCap && QString::fromLatin1(toSingleByte(value)) == value &&
           !value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')) &&
           value.trimmed() == value;
}

qint32 reg_get_value(const QString& root, const QString& section, const QString& name,
                     const QString& type, const QString& defaultValue, QString& value)
{
    value = defaultValue;
    if (reg_resolve_root(root) != ProfileFile || !isTextType(type))
        return kNothingDone;

    QFile file(root);
    if (!file.open(QIODevice::ReadOnly))
        return kDone; // an unreadable file reads like a missing one: the default
    const ProfileText profile(file.readAll());
    const std::optional<QByteArray> stored =
        profile.value(toSingleByte(section), toSingleByte(name));
    if (stored)
        value = QString::fromLatin1(stored->left(kReadCap));
    return kDone;
}

qint32 reg_set_value(const QString& root, const QString& section, const QString& name,
                     const QString& type, const QString& value)
{
    return reg_set_values(root, type, {{section, name, value}});
}

qint32 reg_set_values(const QString& root, const QString& type, const QList<ProfileValue>& values)
{
    if (reg_resolve_root(root) != ProfileFile || !isTextType(type))
        return kNothingDone;
    for (const ProfileValue& entry : values) {
        if (!isWritableName(toSingleByte(entry.section), true) ||
            !isWritableName(toSingleByte(entry.name), false))
            return kNothingDone;
    }

    QFile current(root);
    if (!current.open(QIODevice::ReadOnly))
        return kNothingDone;
    ProfileText profile(current.readAll());
    current.close();
    for (const ProfileValue& entry : values) {
        // A value is one line: a line break inside it would start a new key or section.
        QByteArray text = toSingleByte(entry.value);
        text.replace('\r', ' ').replace('\n', ' ');
        profile.setValue(toSingleByte(entry.section), toSingleByte(entry.name), text);
    }

    // Written beside the file and renamed over it, so a crash leaves the old or the new file;
    // the file keeps its permissions.
    QSaveFile file(root);
    if (!file.open(QIODevice::WriteOnly))
        return kNothingDone;
    const QByteArray content = profile.content();
    if (file.write(content) != content.size() || !file.commit())
        return kNothingDone;
    return kDone;
}

} // namespace ProfileStore
