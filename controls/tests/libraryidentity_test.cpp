// The library's identity read back: its registration data, resources and version block. What it
// puts in the type library is checked in the shipped type library itself (typelibrary_test).
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

} // namespace

TEST(LibraryIdentity, RegistrationDataResourcesAndVersionBlock)
{
    const LibraryIdentity& identity = libraryIdentity();
    EXPECT_EQ(identity.typeLibraryResourceType, u"TYPELIB"_s);
    EXPECT_EQ(identity.typeLibraryResourceId, 1);
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

TEST(LibraryIdentity, PropertyPutValuesKeepTheirNamesForTheInterfaceDefinition)
{
    // A type library leaves the value of a property put unnamed; the definition names it.
    const QList<TypeDescription>& types = libraryIdentity().types;
    ASSERT_EQ(types.size(), 6);
    ASSERT_EQ(types[0].members.size(), 17);
    EXPECT_EQ(types[0].members[14].name, u"BackColor"_s);
    ASSERT_EQ(types[0].members[14].parameters.size(), 1);
    EXPECT_EQ(types[0].members[14].parameters[0].name, u"vNewValue"_s);
}
