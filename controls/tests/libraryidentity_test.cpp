// The library's identity read back: the names and identifiers hosts bind to, in their order.
#include <gtest/gtest.h>

#include <QImage>
#include <QMap>

#include "libraryidentity.h"

using namespace Quillset;
using namespace Qt::Literals::StringLiterals;

namespace {

QUuid id(const char* text)
{
    return QUuid::fromString(QLatin1String(text));
}

struct Member
{
    const char* name;
    MemberKind kind;
    qint32 dispatchId;
};

void expectMembers(const TypeDescription& type, std::initializer_list<Member> expected)
{
    ASSERT_EQ(type.members.size(), qsizetype(expected.size())) << type.name.toStdString();
    qsizetype i = 0;
    for (const Member& member : expected) {
        const MemberDescription& actual = type.members[i++];
        EXPECT_EQ(actual.name, QLatin1String(member.name));
        EXPECT_EQ(actual.kind, member.kind) << member.name;
        EXPECT_EQ(actual.dispatchId, member.dispatchId) << member.name;
    }
}

} // namespace

TEST(LibraryIdentity, TypeLibraryAndItsSixTypeDescriptionsInOrder)
{
    const LibraryIdentity& identity = libraryIdentity();
    EXPECT_EQ(identity.library.name, u"Quillset"_s);
    EXPECT_EQ(identity.library.identifier, id("{1BD5A39E-ECFB-406E-89FD-FB568461762B}"));
    EXPECT_EQ(identity.library.majorVersion, 2);
    EXPECT_EQ(identity.library.minorVersion, 0);
    EXPECT_EQ(identity.library.locale, 0x409u);
    EXPECT_EQ(identity.library.flags, 2u);
    EXPECT_EQ(identity.library.importedLibrary, u"stdole2.tlb"_s);
    EXPECT_EQ(identity.typeLibraryResourceType, u"TYPELIB"_s);
    EXPECT_EQ(identity.typeLibraryResourceId, 1);

    struct Type
    {
        const char* name;
        TypeKind kind;
        const char* identifier;
        quint32 flags;
    };
    const Type expected[] = {
        {"_SigControl", TypeKind::DualInterface, "{4BB85937-1C1A-452C-A765-B59FD0E594DB}", 0x1D0},
        {"SigControl", TypeKind::CoClass, "{731BDDE4-BF1C-49BF-AC22-E4A8D3C67BF8}", 0x22},
        {"_MSRControl", TypeKind::DualInterface, "{BA628CA3-FAE0-4BB9-929F-29B2BD2F06E8}", 0x1D0},
        {"MSRControl", TypeKind::CoClass, "{E06DD777-262E-42F9-914D-B6F34238DD02}", 0x22},
        {"__SigControl", TypeKind::EventInterface, "{DE92968F-016C-44DF-988F-9C1E74E2C46B}", 0x90},
        {"__MSRControl", TypeKind::EventInterface, "{551C86BE-B0EE-4D89-AFFF-8CE8BEF2312C}", 0x90},
    };
    ASSERT_EQ(identity.types.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const TypeDescription& type = identity.types[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(type.name, QLatin1String(expected[i].name));
        EXPECT_EQ(type.kind, expected[i].kind);
        EXPECT_EQ(type.identifier, id(expected[i].identifier));
        EXPECT_EQ(type.majorVersion, 1);
        EXPECT_EQ(type.minorVersion, 0);
        EXPECT_EQ(type.flags, expected[i].flags);
    }

    const TypeDescription& sigClass = identity.types[1];
    ASSERT_EQ(sigClass.interfaces.size(), 2);
    EXPECT_EQ(sigClass.interfaces[0].name, u"_SigControl"_s);
    EXPECT_TRUE(sigClass.interfaces[0].isDefault && !sigClass.interfaces[0].isSource);
    EXPECT_EQ(sigClass.interfaces[1].name, u"__SigControl"_s);
    EXPECT_TRUE(sigClass.interfaces[1].isDefault && sigClass.interfaces[1].isSource);
    EXPECT_EQ(identity.types[3].interfaces[0].name, u"_MSRControl"_s);
    EXPECT_EQ(identity.types[3].interfaces[1].name, u"__MSRControl"_s);
}

TEST(LibraryIdentity, MembersKeepTheirOrderAndDispatchIdentifiers)
{
    const QList<TypeDescription>& types = libraryIdentity().types;
    using enum MemberKind;
    expectMembers(types[0], {{"BorderStyle", PropertyGet, 0x68030005},
                             {"BorderStyle", PropertyPut, 0x68030005},
                             {"TimeOut", PropertyGet, 0x68030004},
                             {"TimeOut", PropertyPut, 0x68030004},
                             {"MimicClearScreen", Method, 0x60030009},
                             {"MimicSetScale", Method, 0x6003000A},
                             {"MimicSetLine", Method, 0x6003000B},
                             {"MimicStatus", Method, 0x6003000C},
                             {"MimicSetPixel", Method, 0x6003000D},
                             {"MaxSize", PropertyGet, 0x68030003},
                             {"MaxSize", PropertyPut, 0x68030003},
                             {"ConnectLines", PropertyGet, 0x68030002},
                             {"ConnectLines", PropertyPut, 0x68030002},
                             {"BackColor", PropertyGet, 0x68030001},
                             {"BackColor", PropertyPut, 0x68030001},
                             {"ForeColor", PropertyGet, 0x68030000},
                             {"ForeColor", PropertyPut, 0x68030000}});
    expectMembers(types[2], {{"ReturnFormat", PropertyGet, 0x68030001},
                             {"ReturnFormat", PropertyPut, 0x68030001},
                             {"TimeOut", PropertyGet, 0x68030000},
                             {"TimeOut", PropertyPut, 0x68030000}});
    expectMembers(types[4], {{"SignTimer", Method, 1}});
    expectMembers(types[5], {{"GoodSwipe", Method, 1}, {"BadSwipe", Method, 2}});

    const QList<MemberDescription>& sig = types[0].members;
    EXPECT_TRUE(sig[7].hidden);
    EXPECT_EQ(sig[0].documentation, u"Returns/sets the border style for an object."_s);
    EXPECT_EQ(sig[3].documentation, u"The amount of time in seconds after the user lifts the "
                                    u"pen and fires the SignTimer event"_s);
    EXPECT_EQ(sig[9].documentation, u"Maximum number of points recorded for signature (Size is "
                                    u"in Points or Kilobytes)"_s);
    ASSERT_EQ(sig[6].parameters.size(), 4);
    EXPECT_FALSE(sig[6].parameters[1].optional);
    EXPECT_TRUE(sig[6].parameters[2].optional && sig[6].parameters[3].optional);
    for (const ParameterDescription& parameter : sig[6].parameters) {
        EXPECT_EQ(parameter.type, u"short"_s) << parameter.name.toStdString();
        EXPECT_TRUE(parameter.byReference) << parameter.name.toStdString();
    }
    EXPECT_EQ(sig[14].parameters[0].name, u"vNewValue"_s);
    EXPECT_EQ(sig[14].parameters[0].type, u"OLE_COLOR"_s);
    EXPECT_EQ(types[2].members[0].documentation, u"Specifies the type of data that is returned"_s);
    EXPECT_EQ(types[2].members[0].resultType, u"unsigned char"_s);
    EXPECT_EQ(types[2].members[3].documentation, u"Timeout of the MSR in seconds"_s);
    EXPECT_EQ(types[4].members[0].documentation,
              u"Fired when Timeout value occurs after the pen is lifted off the pad"_s);
    EXPECT_EQ(types[5].members[0].documentation, u"Fired when a valid card swipe occurs"_s);
    EXPECT_EQ(types[5].members[1].documentation, u"Fires when a bad MSR read is triggered"_s);
}

TEST(LibraryIdentity, RegistrationDataResourcesAndVersionBlock)
{
    const LibraryIdentity& identity = libraryIdentity();
    ASSERT_EQ(identity.controls.size(), 2);
    EXPECT_EQ(identity.controls[0].className, u"MSRControl"_s);
    EXPECT_EQ(identity.controls[0].classId, id("{E06DD777-262E-42F9-914D-B6F34238DD02}"));
    EXPECT_EQ(identity.controls[0].toolboxBitmapId, 30000);
    EXPECT_EQ(identity.controls[1].className, u"SigControl"_s);
    EXPECT_EQ(identity.controls[1].classId, id("{731BDDE4-BF1C-49BF-AC22-E4A8D3C67BF8}"));
    EXPECT_EQ(identity.controls[1].toolboxBitmapId, 30001);
    for (const ControlRegistration& control : identity.controls) {
        EXPECT_EQ(control.miscStatus, 0x20191u);
        EXPECT_EQ(control.threadingModel, u"Apartment"_s);
        const QImage picture(control.toolboxPicture);
        EXPECT_EQ(picture.size(), QSize(16, 15)) << control.toolboxPicture.toStdString();
        EXPECT_LE(picture.colorCount(), 16);
        EXPECT_GT(picture.colorCount(), 0);
    }

    ASSERT_EQ(identity.interfaceResources.size(), 4);
    const char* names[] = {"_IID_SIGCONTROL", "_SRCIID_SIGCONTROL", "_IID_MSRCONTROL",
                           "_SRCIID_MSRCONTROL"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(identity.interfaceResources[i].name, QLatin1String(names[i]));
        EXPECT_EQ(identity.interfaceResources[i].data.size(), 20);
    }
    // The length, then {4BB85937-1C1A-452C-A765-B59FD0E594DB} as it lies in memory.
    EXPECT_EQ(identity.interfaceResources[0].data.toHex(), QByteArray("10000000"
                                                                      "3759b84b"
                                                                      "1a1c"
                                                                      "2c45"
                                                                      "a765b59fd0e594db"));
    EXPECT_EQ(identity.interfaceResources[1].data.mid(4),
              identifierBytes(id("{DE92968F-016C-44DF-988F-9C1E74E2C46B}")));
    EXPECT_EQ(identity.interfaceResources[3].data.toHex(), QByteArray("10000000"
                                                                      "be861c55"
                                                                      "eeb0"
                                                                      "894d"
                                                                      "afff8ce8bef2312c"));

    const VersionBlock& version = identity.version;
    EXPECT_EQ(std::vector<quint16>(version.fileVersion, version.fileVersion + 4),
              (std::vector<quint16>{2, 1, 0, 0}));
    EXPECT_EQ(std::vector<quint16>(version.productVersion, version.productVersion + 4),
              (std::vector<quint16>{2, 1, 0, 0}));
    QMap<QString, QString> strings;
    for (const auto& [name, text] : version.strings)
        strings.insert(name, text);
    EXPECT_EQ(strings.value(u"FileVersion"_s), u"2.01"_s);
    EXPECT_EQ(strings.value(u"ProductVersion"_s), u"2.01"_s);
    EXPECT_EQ(strings.value(u"ProductName"_s), u"Quillset"_s);
    EXPECT_EQ(strings.value(u"InternalName"_s), u"Quillset"_s);
    EXPECT_EQ(strings.value(u"OriginalFilename"_s), u"Quillset.ocx"_s);
    ASSERT_TRUE(strings.contains(u"OLESelfRegister"_s));
    EXPECT_TRUE(strings.value(u"OLESelfRegister"_s).isEmpty());
    EXPECT_FALSE(strings.value(u"CompanyName"_s).isEmpty());
    EXPECT_FALSE(strings.value(u"LegalCopyright"_s).isEmpty());
    EXPECT_EQ(version.fileOs, 0x4u);
    EXPECT_EQ(version.fileType, 0x2u);
}

TEST(LibraryIdentity, ControlPicturesHaveTheirDesignedSizes)
{
    const QImage signatureArea(u":/quillset/signaturearea.png"_s);
    EXPECT_EQ(signatureArea.size(), QSize(151, 46));
    EXPECT_FALSE(signatureArea.hasAlphaChannel());
    EXPECT_EQ(signatureArea.pixel(0, 0), qRgb(255, 255, 255));
    const QImage card(u":/quillset/card.png"_s);
    EXPECT_EQ(card.size(), QSize(47, 42));
    EXPECT_LE(card.colorCount(), 256);
    EXPECT_GT(card.colorCount(), 0);
}
