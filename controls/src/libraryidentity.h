#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUuid>

#include "quillsetglobal.h"

// The names and identifiers that hosts and their saved windows bind to: the type library, its
// six type descriptions, the controls' registration data and the version block.
namespace Quillset {

// Type description attributes, with the values the type library format gives them.
namespace TypeFlag {
constexpr quint32 CanCreate = 0x2;
constexpr quint32 Hidden = 0x10;
constexpr quint32 Control = 0x20;
constexpr quint32 Dual = 0x40;
constexpr quint32 NonExtensible = 0x80;
constexpr quint32 OleAutomation = 0x100;
} // namespace TypeFlag

enum class TypeKind {
    DualInterface,
    CoClass,
    EventInterface,
};

enum class MemberKind {
    Method,
    PropertyGet,
    PropertyPut,
};

struct ParameterDescription
{
    QString name;
    // The type as an interface definition writes it: "short", "VARIANT_BOOL", "OLE_COLOR".
    QString type;
    bool byReference = false;
    bool optional = false;
};

struct MemberDescription
{
    QString name;
    MemberKind kind = MemberKind::Method;
    qint32 dispatchId = 0;
    QList<ParameterDescription> parameters;
    // A property get's result type; empty otherwise.
    QString resultType;
    QString documentation;
    bool hidden = false;
};

struct ImplementedInterface
{
    QString name;
    bool isDefault = false;
    bool isSource = false;
};

struct TypeDescription
{
    QString name;
    TypeKind kind = TypeKind::DualInterface;
    QUuid identifier;
    quint16 majorVersion = 1;
    quint16 minorVersion = 0;
    quint32 flags = 0;
    QList<MemberDescription> members;
    QList<ImplementedInterface> interfaces;
};

struct TypeLibraryDescription
{
    QString name;
    QUuid identifier;
    quint16 majorVersion = 0;
    quint16 minorVersion = 0;
    quint32 locale = 0;
    // LIBFLAG values; 2 marks a library of controls.
    quint32 flags = 0;
    QString description;
    QString importedLibrary;
};

struct ControlRegistration
{
    QString className;
    QUuid classId;
    int toolboxBitmapId = 0;
    // The toolbox picture among the library's resources.
    QString toolboxPicture;
    quint32 miscStatus = 0;
    QString threadingModel;
};

// A named binary resource of the library.
struct NamedResource
{
    QString name;
    QByteArray data;
};

struct VersionBlock
{
    quint16 fileVersion[4] = {};
    quint16 productVersion[4] = {};
    // Name and text of each string entry, in the block's order.
    QList<QPair<QString, QString>> strings;
    // VOS__WINDOWS32 and VFT_DLL.
    quint32 fileOs = 0;
    quint32 fileType = 0;
};

struct LibraryIdentity
{
    TypeLibraryDescription library;
    QList<TypeDescription> types;
    QList<ControlRegistration> controls;
    QList<NamedResource> interfaceResources;
    VersionBlock version;
    // Where the type library sits among the library's resources.
    QString typeLibraryResourceType;
    int typeLibraryResourceId = 0;
};

// The library's identity; the same object for the life of the program.
QUILLSET_EXPORT const LibraryIdentity& libraryIdentity();

// An identifier as the platform lays it out in memory: three little-endian fields, then the
// last 8 bytes as they stand.
QUILLSET_EXPORT QByteArray identifierBytes(const QUuid& identifier);

} // namespace Quillset
