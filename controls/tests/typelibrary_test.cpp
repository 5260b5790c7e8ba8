// The build's interface definition compiled into a 32-bit type library by widl and read back.
// This system ships none of the platform's IDL files nor its standard OLE type library, so the
// test brings minimal stand-ins for the base types and compiles a stand-in stdole2.tlb first.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "libraryidentity.h"
#include "typelibraryreader.h"

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr char kBaseTypes[] = R"(
typedef long HRESULT;
typedef short VARIANT_BOOL;
typedef struct tagVARIANT { int placeholder; } VARIANT;
[object, local, uuid(00000000-0000-0000-C000-000000000046)]
interface IUnknown {}
[object, uuid(00020400-0000-0000-C000-000000000046)]
interface IDispatch : IUnknown {}
)";

// Public, so that widl refers to the standard library's colour type rather than inlining it.
constexpr char kControlTypes[] = R"(
import "oaidl.idl";
typedef [public] unsigned long OLE_COLOR;
)";

constexpr char kStandardLibrary[] = R"(
import "ocidl.idl";
[uuid(00020430-0000-0000-C000-000000000046), version(2.0)]
library stdole
{
    interface IUnknown;
    interface IDispatch;
    typedef [uuid(66504301-BE0F-101A-8BBB-00AA00300CAB), public] unsigned long OLE_COLOR;
}
)";

const QUuid kDispatchId = QUuid::fromString(u"{00020400-0000-0000-C000-000000000046}"_s);
const QUuid kOleColorId = QUuid::fromString(u"{66504301-BE0F-101A-8BBB-00AA00300CAB}"_s);

constexpr quint32 kHidden = 0x10;
constexpr quint32 kDual = 0x40;
constexpr quint32 kNonExtensible = 0x80;
constexpr quint32 kOleAutomation = 0x100;
constexpr quint32 kDispatchable = 0x1000;
constexpr quint32 kControl = 0x20;
constexpr quint32 kCanCreate = 0x2;
constexpr int kDispatchKind = 4;
constexpr int kClassKind = 5;

bool writeFile(const QString& path, const char* text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == qint64(qstrlen(text));
}

// Runs widl to make a type library; the compiler's messages when it fails.
QString compile(const QString& folder, const QString& idl, const QString& output)
{
    QProcess widl;
    widl.setWorkingDirectory(folder);
    widl.setProcessChannelMode(QProcess::MergedChannels);
    widl.start(QStringLiteral(QUILLSET_WIDL), {u"--win32"_s, u"--nostdinc"_s, u"-I"_s, folder,
                                               u"-L"_s, folder, u"-t"_s, u"-o"_s, output, idl});
    if (!widl.waitForFinished(60000))
        return u"widl did not finish: "_s + widl.errorString();
    if (widl.exitStatus() != QProcess::NormalExit || widl.exitCode() != 0)
        return QString::fromLocal8Bit(widl.readAll());
    return {};
}

class TypeLibrary : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString folder = dir.path();
        ASSERT_TRUE(writeFile(folder + u"/oaidl.idl"_s, kBaseTypes));
        ASSERT_TRUE(writeFile(folder + u"/ocidl.idl"_s, kControlTypes));
        ASSERT_TRUE(writeFile(folder + u"/stdole2.idl"_s, kStandardLibrary));
        ASSERT_EQ(compile(folder, u"stdole2.idl"_s, u"stdole2.tlb"_s), QString());
        ASSERT_EQ(compile(folder, QStringLiteral(QUILLSET_IDL), u"quillset.tlb"_s), QString());

        QFile file(folder + u"/quillset.tlb"_s);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QString error;
        s_library = readTypeLibrary(file.readAll(), &error);
        ASSERT_TRUE(s_library) << error.toStdString();
    }

    void SetUp() override { ASSERT_TRUE(s_library) << "the type library was not made"; }

    const TypeLibraryType& type(const char* name) const
    {
        for (const TypeLibraryType& type : s_library->types)
            if (type.name == QLatin1String(name))
                return type;
        ADD_FAILURE() << "no type description " << name;
        static const TypeLibraryType none;
        return none;
    }

    int indexOf(const char* name) const
    {
        for (qsizetype i = 0; i < s_library->types.size(); ++i)
            if (s_library->types[i].name == QLatin1String(name))
                return int(i);
        return -1;
    }

    static inline std::optional<TypeLibraryContents> s_library;
};

} // namespace

TEST_F(TypeLibrary, LibraryHeader)
{
    EXPECT_EQ(s_library->name, u"Quillset"_s);
    EXPECT_EQ(s_library->identifier,
              QUuid::fromString(u"{1BD5A39E-ECFB-406E-89FD-FB568461762B}"_s));
    EXPECT_EQ(s_library->majorVersion, 2);
    EXPECT_EQ(s_library->minorVersion, 0);
    EXPECT_EQ(s_library->locale, 0x409u);
    EXPECT_EQ(s_library->flags, 2u);
    EXPECT_EQ(s_library->description, Quillset::libraryIdentity().library.description);
    EXPECT_EQ(s_library->importedFiles, QStringList{u"stdole2.tlb"_s});
    EXPECT_TRUE(s_library->importedTypes.contains(kDispatchId));
    EXPECT_TRUE(s_library->importedTypes.contains(kOleColorId));
}

TEST_F(TypeLibrary, SixTypeDescriptionsWithTheirIdentifiers)
{
    QStringList names;
    for (const TypeLibraryType& type : s_library->types)
        names << type.name;
    // widl writes an interface that a class names as soon as it writes the class, so each event
    // interface follows its own class instead of coming after both; the rest keep their order.
    EXPECT_EQ(names, (QStringList{u"_SigControl"_s, u"SigControl"_s, u"__SigControl"_s,
                                  u"_MSRControl"_s, u"MSRControl"_s, u"__MSRControl"_s}));

    struct Expected
    {
        const char* name;
        int kind;
        const char* identifier;
        quint32 flags;
    };
    const quint32 dual = kHidden | kDual | kNonExtensible | kOleAutomation | kDispatchable;
    // widl does not take nonextensible on a dispatch interface.
    const quint32 events = kHidden | kDispatchable;
    const Expected expected[] = {
        {"_SigControl", kDispatchKind, "{4BB85937-1C1A-452C-A765-B59FD0E594DB}", dual},
        {"SigControl", kClassKind, "{731BDDE4-BF1C-49BF-AC22-E4A8D3C67BF8}", kControl | kCanCreate},
        {"_MSRControl", kDispatchKind, "{BA628CA3-FAE0-4BB9-929F-29B2BD2F06E8}", dual},
        {"MSRControl", kClassKind, "{E06DD777-262E-42F9-914D-B6F34238DD02}", kControl | kCanCreate},
        {"__SigControl", kDispatchKind, "{DE92968F-016C-44DF-988F-9C1E74E2C46B}", events},
        {"__MSRControl", kDispatchKind, "{551C86BE-B0EE-4D89-AFFF-8CE8BEF2312C}", events},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const TypeLibraryType& actual = type(e.name);
        EXPECT_EQ(actual.kind, e.kind);
        EXPECT_EQ(actual.identifier, QUuid::fromString(QLatin1String(e.identifier)));
        EXPECT_EQ(actual.flags, e.flags);
        // widl takes no version on a dispatch interface either.
        if (actual.flags & kDual || actual.kind == kClassKind) {
            EXPECT_EQ(actual.majorVersion, 1);
            EXPECT_EQ(actual.minorVersion, 0);
        }
    }
}

TEST_F(TypeLibrary, ClassesHaveTheDualInterfaceAsDefaultAndTheEventsAsDefaultSource)
{
    const struct
    {
        const char* control;
        const char* interface;
        const char* events;
    } classes[] = {{"SigControl", "_SigControl", "__SigControl"},
                   {"MSRControl", "_MSRControl", "__MSRControl"}};
    for (const auto& c : classes) {
        SCOPED_TRACE(c.control);
        const TypeLibraryType& control = type(c.control);
        ASSERT_EQ(control.implementedTypes.size(), 2);
        EXPECT_EQ(control.implementedTypes[0].index, indexOf(c.interface));
        EXPECT_EQ(control.implementedTypes[0].flags, 1);
        EXPECT_EQ(control.implementedTypes[1].index, indexOf(c.events));
        EXPECT_EQ(control.implementedTypes[1].flags, 3);
    }
}

TEST_F(TypeLibrary, MembersCarryTheirDispatchIdentifiersAndDocumentation)
{
    const TypeLibraryType& sig = type("_SigControl");
    ASSERT_EQ(sig.members.size(), 17);
    const struct
    {
        const char* name;
        int invokeKind;
        qint32 id;
    } sigMembers[] = {
        {"BorderStyle", 2, 0x68030005},      {"BorderStyle", 4, 0x68030005},
        {"TimeOut", 2, 0x68030004},          {"TimeOut", 4, 0x68030004},
        {"MimicClearScreen", 1, 0x60030009}, {"MimicSetScale", 1, 0x6003000A},
        {"MimicSetLine", 1, 0x6003000B},     {"MimicStatus", 1, 0x6003000C},
        {"MimicSetPixel", 1, 0x6003000D},    {"MaxSize", 2, 0x68030003},
        {"MaxSize", 4, 0x68030003},          {"ConnectLines", 2, 0x68030002},
        {"ConnectLines", 4, 0x68030002},     {"BackColor", 2, 0x68030001},
        {"BackColor", 4, 0x68030001},        {"ForeColor", 2, 0x68030000},
        {"ForeColor", 4, 0x68030000},
    };
    for (int i = 0; i < 17; ++i) {
        SCOPED_TRACE(sigMembers[i].name);
        EXPECT_EQ(sig.members[i].name, QLatin1String(sigMembers[i].name));
        EXPECT_EQ(sig.members[i].invokeKind, sigMembers[i].invokeKind);
        EXPECT_EQ(sig.members[i].memberId, sigMembers[i].id);
    }
    constexpr quint32 kHiddenMember = 0x40;
    EXPECT_EQ(sig.members[7].flags & kHiddenMember, kHiddenMember);
    EXPECT_EQ(sig.members[6].flags & kHiddenMember, 0u);
    EXPECT_EQ(sig.members[0].documentation, u"Returns/sets the border style for an object."_s);

    // MimicSetLine's X2 and Y2 are optional 16-bit integers, passed by reference like the rest.
    constexpr quint32 kInOut = 0x1 | 0x2;
    constexpr quint32 kOptional = 0x10;
    constexpr int kShort = 2;
    constexpr int kPointer = 26;
    const QList<TypeLibraryParameter>& line = sig.members[6].parameters;
    ASSERT_EQ(line.size(), 4);
    const char* lineNames[] = {"X1", "Y1", "X2", "Y2"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(lineNames[i]);
        EXPECT_EQ(line[i].name, QLatin1String(lineNames[i]));
        EXPECT_EQ(line[i].flags, i < 2 ? kInOut : kInOut | kOptional);
        EXPECT_EQ(line[i].type, kPointer);
        EXPECT_EQ(line[i].pointedType, kShort);
    }
    const QList<TypeLibraryParameter>& pixel = sig.members[8].parameters;
    ASSERT_EQ(pixel.size(), 3);
    EXPECT_EQ(pixel[2].name, u"pentouch"_s);
    EXPECT_EQ(pixel[2].flags, kInOut);
    // A property put takes its value as it is.
    const QList<TypeLibraryParameter>& foreColor = sig.members[16].parameters;
    ASSERT_EQ(foreColor.size(), 1);
    EXPECT_EQ(foreColor[0].flags, 0x1u);
    EXPECT_NE(foreColor[0].type, kPointer);

    const TypeLibraryType& msr = type("_MSRControl");
    ASSERT_EQ(msr.members.size(), 4);
    EXPECT_EQ(msr.members[0].name, u"ReturnFormat"_s);
    EXPECT_EQ(msr.members[0].memberId, 0x68030001);
    EXPECT_EQ(msr.members[3].name, u"TimeOut"_s);
    EXPECT_EQ(msr.members[3].memberId, 0x68030000);
    EXPECT_EQ(msr.members[3].documentation, u"Timeout of the MSR in seconds"_s);

    const TypeLibraryType& sigEvents = type("__SigControl");
    ASSERT_EQ(sigEvents.members.size(), 1);
    EXPECT_EQ(sigEvents.members[0].name, u"SignTimer"_s);
    EXPECT_EQ(sigEvents.members[0].memberId, 1);
    const TypeLibraryType& msrEvents = type("__MSRControl");
    ASSERT_EQ(msrEvents.members.size(), 2);
    EXPECT_EQ(msrEvents.members[0].name, u"GoodSwipe"_s);
    EXPECT_EQ(msrEvents.members[1].name, u"BadSwipe"_s);
    EXPECT_EQ(msrEvents.members[1].memberId, 2);
    EXPECT_EQ(msrEvents.members[1].documentation, u"Fires when a bad MSR read is triggered"_s);
}

TEST(TypeLibraryReader, RefusesWhatIsNoTypeLibraryOrIsCutShort)
{
    QString error;
    EXPECT_FALSE(readTypeLibrary(QByteArray("MZ not a type library"), &error));
    EXPECT_FALSE(error.isEmpty());
    QByteArray header(0x54, '\0');
    header.replace(0, 4, "MSFT");
    header[0x20] = 6; // six type descriptions, and nothing after the header
    EXPECT_FALSE(readTypeLibrary(header, &error));
}
