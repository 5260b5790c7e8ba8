#pragma once

#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

// A small reader of the 32-bit type library file format (the "MSFT" layout): enough to read back
// the library's header, its type descriptions in file order, their members and their parameters,
// the classes' implemented interfaces, and what the library imports. It refuses a file whose
// name and identifier tables do not give each type and member back to the type that holds it.
struct TypeLibraryParameter
{
    QString name;
    // PARAMFLAG values: 1 in, 2 out, 0x10 optional.
    quint32 flags = 0;
    // The parameter's VARTYPE (2 short, 26 pointer, ...); for a pointer, also the VARTYPE of what
    // it points to.
    int type = 0;
    int pointedType = -1;
    // For a user-defined type, or a pointer to one: that type's identifier.
    QUuid userType;
};

struct TypeLibraryMember
{
    QString name;
    qint32 memberId = 0;
    // 1 method, 2 property get, 4 property put.
    int invokeKind = 0;
    // The VARTYPE of the result: 25 HRESULT, 24 void.
    int resultType = 0;
    quint32 flags = 0;
    QString documentation;
    QList<TypeLibraryParameter> parameters;
};

struct TypeLibraryImplementedType
{
    // Index of the type description in this library, or -1 for an imported one.
    int index = -1;
    // IMPLTYPEFLAG values: 1 default, 2 source.
    int flags = 0;
};

struct TypeLibraryType
{
    QString name;
    // TKIND value: 3 interface, 4 dispatch interface, 5 class.
    int kind = 0;
    QUuid identifier;
    quint16 majorVersion = 0;
    quint16 minorVersion = 0;
    quint32 flags = 0;
    // An interface's base interface; null for none.
    QUuid baseInterface;
    QList<TypeLibraryMember> members;
    QList<TypeLibraryImplementedType> implementedTypes;
};

struct TypeLibraryContents
{
    QString name;
    QUuid identifier;
    quint16 majorVersion = 0;
    quint16 minorVersion = 0;
    quint32 locale = 0;
    quint32 flags = 0;
    QString description;
    QList<TypeLibraryType> types;
    QStringList importedFiles;
    // Identifiers of the imported types that this library refers to.
    QList<QUuid> importedTypes;
};

// The contents of a type library file, or nothing with error set when it is not one or is cut
// short.
std::optional<TypeLibraryContents> readTypeLibrary(const QByteArray& file, QString* error);
