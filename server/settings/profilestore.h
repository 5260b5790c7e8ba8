#pragma once

#include <QList>
#include <QString>

// The server's one gateway to stored values: typed values addressed by a root, a section and a
// name. A root that is the path of an existing ordinary file selects that profile (INI) file,
// read and written by the platform's profile-file rules: case-insensitive section and key
// names, values cut to 254 characters, defaults only for missing keys.
namespace ProfileStore {

constexpr qint32 kDone = 0;
constexpr qint32 kNothingDone = 99;

enum RootCode { Unrecognised = 0, ProfileFile = 1, Registry = 2 };

// What the root names: a registry hive abbreviation, an existing ordinary file, or neither.
RootCode reg_resolve_root(const QString& root);

// Whether a value written to a profile file reads back as it is: single-byte characters only,
// no line end, no blanks around it, at most the 254 characters a read returns.
bool holdsValue(const QString& value);

// Reads a value; `value` ends up holding the value read or `defaultValue`.
qint32 reg_get_value(const QString& root, const QString& section, const QString& name,
                     const QString& type, const QString& defaultValue, QString& value);

// Writes or replaces a value in an existing profile file; creates no file.
qint32 reg_set_value(const QString& root, const QString& section, const QString& name,
                     const QString& type, const QString& value);

// One value of a batch write.
struct ProfileValue
{
    QString section;
    QString name;
    QString value;
};

// Writes several values into an existing profile file as one change: each by the rules of
// reg_set_value, in order, through one file beside it that replaces the file once, so a crash
// leaves all of them or none. Writes nothing when any section or key name cannot be written.
qint32 reg_set_values(const QString& root, const QString& type, const QList<ProfileValue>& values);

} // namespace ProfileStore
