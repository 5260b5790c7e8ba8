#include "libraryidentity.h"

#include <QtEndian>

namespace Quillset {

namespace {

constexpr quint32 kDualFlags =
    TypeFlag::Hidden | TypeFlag::Dual | TypeFlag::NonExtensible | TypeFlag::OleAutomation;
constexpr quint32 kClassFlags = TypeFlag::Control | TypeFlag::CanCreate;
constexpr quint32 kEventFlags = TypeFlag::Hidden | TypeFlag::NonExtensible;
constexpr quint32 kMiscStatus = 0x20191;

QUuid uuid(const char* text)
{
    return QUuid::fromString(QLatin1String(text));
}

ParameterDescription value(const char* name, const char* type)
{
    return {QLatin1String(name), QLatin1String(type), false, false};
}

ParameterDescription reference(const char* name, const char* type, bool optional = false)
{
    return {QLatin1String(name), QLatin1String(type), true, optional};
}

// The get and the put of one property, in that order, sharing id and documentation.
QList<MemberDescription> property(const char* name, qint32 id, const char* type,
                                  const char* newValueName, const QString& documentation = {})
{
    MemberDescription get{QLatin1String(name), MemberKind::PropertyGet, id, {}, QLatin1String(type),
                          documentation};
    MemberDescription put{
        QLatin1String(name), MemberKind::PropertyPut, id, {value(newValueName, type)}, {},
        documentation};
    return {get, put};
}

MemberDescription method(const char* name, qint32 id, QList<ParameterDescription> parameters = {},
                         bool hidden = false)
{
    return {QLatin1String(name), MemberKind::Method, id, std::move(parameters), {}, {}, hidden};
}

MemberDescription event(const char* name, qint32 id, const char* documentation = "")
{
    return {QLatin1String(name), MemberKind::Method, id, {}, {}, QLatin1String(documentation)};
}

TypeDescription sigControlInterface()
{
    TypeDescription type{QStringLiteral("_SigControl"),
                         TypeKind::DualInterface,
                         uuid("{4BB85937-1C1A-452C-A765-B59FD0E594DB}"),
                         1,
                         0,
                         kDualFlags,
                         {},
                         {}};
    type.members << property("BorderStyle", 0x68030005, "short", "New_BorderStyle",
                             QStringLiteral("Returns/sets the border style for an object."))
                 << property("TimeOut", 0x68030004, "short", "New_TimeOut",
                             QStringLiteral("The amount of time in seconds after the user lifts "
                                            "the pen and fires the SignTimer event"))
                 << method("MimicClearScreen", 0x60030009)
                 << method("MimicSetScale", 0x6003000A,
                           {reference("W", "short"), reference("H", "short")})
                 << method("MimicSetLine", 0x6003000B,
                           {reference("X1", "short"), reference("Y1", "short"),
                            reference("X2", "short", true), reference("Y2", "short", true)})
                 << method("MimicStatus", 0x6003000C, {}, true)
                 << method("MimicSetPixel", 0x6003000D,
                           {reference("X", "short"), reference("Y", "short"),
                            reference("pentouch", "short")})
                 << property("MaxSize", 0x68030003, "short", "New_MaxSize",
                             QStringLiteral("Maximum number of points recorded for signature "
                                            "(Size is in Points or Kilobytes)"))
                 << property("ConnectLines", 0x68030002, "VARIANT_BOOL", "New_ConnectLines")
                 << property("BackColor", 0x68030001, "OLE_COLOR", "vNewValue")
                 << property("ForeColor", 0x68030000, "OLE_COLOR", "vNewValue");
    return type;
}

TypeDescription msrControlInterface()
{
    TypeDescription type{QStringLiteral("_MSRControl"),
                         TypeKind::DualInterface,
                         uuid("{BA628CA3-FAE0-4BB9-929F-29B2BD2F06E8}"),
                         1,
                         0,
                         kDualFlags,
                         {},
                         {}};
    type.members << property("ReturnFormat", 0x68030001, "unsigned char", "New_ReturnFormat",
                             QStringLiteral("Specifies the type of data that is returned"))
                 << property("TimeOut", 0x68030000, "short", "New_TimeOut",
                             QStringLiteral("Timeout of the MSR in seconds"));
    return type;
}

TypeDescription controlClass(const char* name, const char* identifier, const char* interface,
                             const char* events)
{
    TypeDescription type{
        QLatin1String(name), TypeKind::CoClass, uuid(identifier), 1, 0, kClassFlags, {}, {}};
    type.interfaces = {{QLatin1String(interface), true, false},
                       {QLatin1String(events), true, true}};
    return type;
}

TypeDescription eventInterface(const char* name, const char* identifier,
                               QList<MemberDescription> events)
{
    TypeDescription type{
        QLatin1String(name), TypeKind::EventInterface, uuid(identifier), 1, 0, kEventFlags, {}, {}};
    type.members = std::move(events);
    return type;
}

// A 32-bit length (16) and the identifier, as the platform's runtime looks them up.
NamedResource interfaceResource(const char* name, const QUuid& identifier)
{
    QByteArray data(4, '\0');
    qToLittleEndian<quint32>(16, data.data());
    return {QLatin1String(name), data + identifierBytes(identifier)};
}

LibraryIdentity makeIdentity()
{
    LibraryIdentity identity;
    identity.library = {QStringLiteral("Quillset"),
                        uuid("{1BD5A39E-ECFB-406E-89FD-FB568461762B}"),
                        2,
                        0,
                        0x409,
                        0x2,
                        QStringLiteral("Quillset signature mimic and card reader controls"),
                        QStringLiteral("stdole2.tlb")};

    identity.types
        << sigControlInterface()
        << controlClass("SigControl", "{731BDDE4-BF1C-49BF-AC22-E4A8D3C67BF8}", "_SigControl",
                        "__SigControl")
        << msrControlInterface()
        << controlClass("MSRControl", "{E06DD777-262E-42F9-914D-B6F34238DD02}", "_MSRControl",
                        "__MSRControl")
        << eventInterface("__SigControl", "{DE92968F-016C-44DF-988F-9C1E74E2C46B}",
                          {event("SignTimer", 1,
                                 "Fired when Timeout value occurs after the pen is lifted off "
                                 "the pad")})
        << eventInterface("__MSRControl", "{551C86BE-B0EE-4D89-AFFF-8CE8BEF2312C}",
                          {event("GoodSwipe", 1, "Fired when a valid card swipe occurs"),
                           event("BadSwipe", 2, "Fires when a bad MSR read is triggered")});

    identity.controls << ControlRegistration{QStringLiteral("MSRControl"),
                                             uuid("{E06DD777-262E-42F9-914D-B6F34238DD02}"),
                                             30000,
                                             QStringLiteral(":/quillset/msrcontrol-toolbox.png"),
                                             kMiscStatus,
                                             QStringLiteral("Apartment")}
                      << ControlRegistration{QStringLiteral("SigControl"),
                                             uuid("{731BDDE4-BF1C-49BF-AC22-E4A8D3C67BF8}"),
                                             30001,
                                             QStringLiteral(":/quillset/sigcontrol-toolbox.png"),
                                             kMiscStatus,
                                             QStringLiteral("Apartment")};

    const QList<TypeDescription>& types = identity.types;
    identity.interfaceResources << interfaceResource("_IID_SIGCONTROL", types[0].identifier)
                                << interfaceResource("_SRCIID_SIGCONTROL", types[4].identifier)
                                << interfaceResource("_IID_MSRCONTROL", types[2].identifier)
                                << interfaceResource("_SRCIID_MSRCONTROL", types[5].identifier);

    VersionBlock& version = identity.version;
    const quint16 numeric[4] = {2, 1, 0, 0};
    std::copy(std::begin(numeric), std::end(numeric), version.fileVersion);
    std::copy(std::begin(numeric), std::end(numeric), version.productVersion);
    version.strings = {
        {QStringLiteral("CompanyName"), QStringLiteral("Varnel")},
        {QStringLiteral("FileVersion"), QStringLiteral("2.01")},
        {QStringLiteral("InternalName"), QStringLiteral("Quillset")},
        {QStringLiteral("LegalCopyright"), QStringLiteral("Copyright (C) Varnel")},
        {QStringLiteral("OLESelfRegister"), QString()},
        {QStringLiteral("OriginalFilename"), QStringLiteral("Quillset.ocx")},
        {QStringLiteral("ProductName"), QStringLiteral("Quillset")},
        {QStringLiteral("ProductVersion"), QStringLiteral("2.01")},
    };
    version.fileOs = 0x4;
    version.fileType = 0x2;

    identity.typeLibraryResourceType = QStringLiteral("TYPELIB");
    identity.typeLibraryResourceId = 1;
    return identity;
}

} // namespace

const LibraryIdentity& libraryIdentity()
{
    static const LibraryIdentity identity = makeIdentity();
    return identity;
}

QByteArray identifierBytes(const QUuid& identifier)
{
    QByteArray bytes(16, '\0');
    qToLittleEndian<quint32>(identifier.data1, bytes.data());
    qToLittleEndian<quint16>(identifier.data2, bytes.data() + 4);
    qToLittleEndian<quint16>(identifier.data3, bytes.data() + 6);
    std::copy(std::begin(identifier.data4), std::end(identifier.data4), bytes.begin() + 8);
    return bytes;
}

} // namespace Quillset
