// The type library that the build ships (lib/quillset.tlb), read back and compared with the
// names, identifiers and attributes that hosts bind to; the expected values are written out here,
// not taken from the library's identity that the build made the file from.
#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

#include "typelibraryreader.h"

using namespace Qt::Literals::StringLiterals;

namespace {

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

// A parameter's type as a declaration writes it.
QString typeText(int type, int pointedType, const QUuid& userType)
{
    constexpr int kPointer = 26;
    if (type == kPointer)
        return typeText(pointedType, -1, userType) + u'*';
    switch (type) {
    case 2:
        return u"short"_s;
    case 11:
        return u"VARIANT_BOOL"_s;
    case 17:
        return u"unsigned char"_s;
    case 29:
        return userType == kOleColorId ? u"OLE_COLOR"_s : userType.toString();
    }
    return u"vartype %1"_s.arg(type);
}

QString parameterText(const TypeLibraryParameter& parameter)
{
    QStringList attributes;
    const struct
    {
        quint32 flag;
        const char* name;
    } flags[] = {{0x1, "in"}, {0x2, "out"}, {0x8, "retval"}, {0x10, "optional"}};
    quint32 unnamed = parameter.flags;
    for (const auto& flag : flags)
        if (parameter.flags & flag.flag) {
            attributes << QLatin1String(flag.name);
            unnamed &= ~flag.flag;
        }
    if (unnamed)
        attributes << u"flags 0x%1"_s.arg(unnamed, 0, 16);
    const QString text = u'[' + attributes.join(u", "_s) + u"] "_s +
                         typeText(parameter.type, parameter.pointedType, parameter.userType);
    return parameter.name.isEmpty() ? text : text + u' ' + parameter.name;
}

// A member as a declaration writes it: its attributes, result, name and parameters.
QString declaration(const TypeLibraryMember& member)
{
    constexpr quint32 kHiddenMember = 0x40;
    QStringList attributes{u"id(0x%1)"_s.arg(quint32(member.memberId), 8, 16, QLatin1Char('0'))};
    if (member.invokeKind == 2)
        attributes << u"propget"_s;
    else if (member.invokeKind == 4)
        attributes << u"propput"_s;
    else if (member.invokeKind != 1)
        attributes << u"invoke kind %1"_s.arg(member.invokeKind);
    if (member.flags & kHiddenMember)
        attributes << u"hidden"_s;
    if (!member.documentation.isEmpty())
        attributes << u"helpstring(\"%1\")"_s.arg(member.documentation);
    QStringList parameters;
    for (const TypeLibraryParameter& parameter : member.parameters)
        parameters << parameterText(parameter);
    const QString result = member.resultType == 25   ? u"HRESULT"_s
                           : member.resultType == 24 ? u"void"_s
                                                     : u"vartype %1"_s.arg(member.resultType);
    return u'[' + attributes.join(u", "_s) + u"] "_s + result + u' ' + member.name + u'(' +
           parameters.join(u", "_s) + u')';
}

class TypeLibrary : public ::testing::Test
{
protected:
    // Read once; a failure here is reported by every test (a failing suite set-up would only
    // skip them).
    static void SetUpTestSuite()
    {
        QFile file(QStringLiteral(QUILLSET_TLB));
        if (!file.open(QIODevice::ReadOnly)) {
            s_error = file.fileName() + u": "_s + file.errorString();
            return;
        }
        s_library = readTypeLibrary(file.readAll(), &s_error);
    }

    void SetUp() override { ASSERT_TRUE(s_library) << s_error.toStdString(); }

    const TypeLibraryType& type(const char* name) const
    {
        for (const TypeLibraryType& type : s_library->types)
            if (type.name == QLatin1String(name))
                return type;
        ADD_FAILURE() << "no type description " << name;
        static const TypeLibraryType none;
        return none;
    }

    // One declaration a line, so that a failure shows the lines that differ.
    std::string declarations(const char* name) const
    {
        QStringList declarations;
        for (const TypeLibraryMember& member : type(name).members)
            declarations << declaration(member);
        return lines(declarations);
    }

    static std::string lines(const QStringList& lines) { return lines.join(u'\n').toStdString(); }

    static inline std::optional<TypeLibraryContents> s_library;
    static inline QString s_error;
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
    EXPECT_EQ(s_library->description, u"Quillset signature mimic and card reader controls"_s);
    EXPECT_EQ(s_library->importedFiles, QStringList{u"stdole2.tlb"_s});
    EXPECT_TRUE(s_library->importedTypes.contains(kDispatchId));
    EXPECT_TRUE(s_library->importedTypes.contains(kOleColorId));
}

TEST_F(TypeLibrary, SixTypeDescriptionsInTheLibrarysOrderWithTheirAttributes)
{
    struct Expected
    {
        const char* name;
        int kind;
        const char* identifier;
        quint32 flags;
        QUuid base;
    };
    const quint32 dual = kHidden | kDual | kNonExtensible | kOleAutomation | kDispatchable;
    const quint32 events = kHidden | kNonExtensible | kDispatchable;
    const quint32 control = kControl | kCanCreate;
    const Expected expected[] = {
        {"_SigControl", kDispatchKind, "{4BB85937-1C1A-452C-A765-B59FD0E594DB}", dual, kDispatchId},
        {"SigControl", kClassKind, "{731BDDE4-BF1C-49BF-AC22-E4A8D3C67BF8}", control, {}},
        {"_MSRControl", kDispatchKind, "{BA628CA3-FAE0-4BB9-929F-29B2BD2F06E8}", dual, kDispatchId},
        {"MSRControl", kClassKind, "{E06DD777-262E-42F9-914D-B6F34238DD02}", control, {}},
        {"__SigControl", kDispatchKind, "{DE92968F-016C-44DF-988F-9C1E74E2C46B}", events, {}},
        {"__MSRControl", kDispatchKind, "{551C86BE-B0EE-4D89-AFFF-8CE8BEF2312C}", events, {}},
    };
    QStringList names;
    for (const TypeLibraryType& type : s_library->types)
        names << type.name;
    EXPECT_EQ(lines(names), "_SigControl\nSigControl\n_MSRControl\nMSRControl\n__SigControl\n"
                            "__MSRControl");
    for (const Expected& e : expected) {
        const TypeLibraryType& actual = type(e.name);
        SCOPED_TRACE(e.name);
        EXPECT_EQ(actual.kind, e.kind);
        EXPECT_EQ(actual.identifier.toString(QUuid::WithBraces).toUpper().toStdString(),
                  e.identifier);
        EXPECT_EQ(actual.flags, e.flags);
        EXPECT_EQ(actual.majorVersion, 1);
        EXPECT_EQ(actual.minorVersion, 0);
        EXPECT_EQ(actual.baseInterface.toString().toStdString(), e.base.toString().toStdString());
    }
}

TEST_F(TypeLibrary, ClassesHaveTheDualInterfaceAsDefaultAndTheEventsAsDefaultSource)
{
    // Places in the library: _SigControl 0, _MSRControl 2, __SigControl 4, __MSRControl 5.
    const struct
    {
        const char* control;
        int interface;
        int events;
    } classes[] = {{"SigControl", 0, 4}, {"MSRControl", 2, 5}};
    for (const auto& c : classes) {
        SCOPED_TRACE(c.control);
        const TypeLibraryType& control = type(c.control);
        ASSERT_EQ(control.implementedTypes.size(), 2);
        EXPECT_EQ(control.implementedTypes[0].index, c.interface);
        EXPECT_EQ(control.implementedTypes[0].flags, 1);
        EXPECT_EQ(control.implementedTypes[1].index, c.events);
        EXPECT_EQ(control.implementedTypes[1].flags, 3);
    }
}

TEST_F(TypeLibrary, MembersInOrderWithDispatchIdentifiersParametersAndDocumentation)
{
    // The value of a property put is unnamed in a type library: the right side of an assignment.
    const QString border = u"helpstring(\"Returns/sets the border style for an object.\")"_s;
    const QString timeOut = u"helpstring(\"The amount of time in seconds after the user lifts the "
                            u"pen and fires the SignTimer event\")"_s;
    const QString maxSize = u"helpstring(\"Maximum number of points recorded for signature (Size "
                            u"is in Points or Kilobytes)\")"_s;
    EXPECT_EQ(
        declarations("_SigControl"),
        lines({
            u"[id(0x68030005), propget, "_s + border +
                u"] HRESULT BorderStyle([out, retval] short* BorderStyle)"_s,
            u"[id(0x68030005), propput, "_s + border + u"] HRESULT BorderStyle([in] short)"_s,
            u"[id(0x68030004), propget, "_s + timeOut +
                u"] HRESULT TimeOut([out, retval] short* TimeOut)"_s,
            u"[id(0x68030004), propput, "_s + timeOut + u"] HRESULT TimeOut([in] short)"_s,
            u"[id(0x60030009)] HRESULT MimicClearScreen()"_s,
            u"[id(0x6003000a)] HRESULT MimicSetScale([in, out] short* W, [in, out] short* H)"_s,
            u"[id(0x6003000b)] HRESULT MimicSetLine([in, out] short* X1, [in, out] short* Y1, "
            u"[in, out, optional] short* X2, [in, out, optional] short* Y2)"_s,
            u"[id(0x6003000c), hidden] HRESULT MimicStatus()"_s,
            u"[id(0x6003000d)] HRESULT MimicSetPixel([in, out] short* X, [in, out] short* Y, "
            u"[in, out] short* pentouch)"_s,
            u"[id(0x68030003), propget, "_s + maxSize +
                u"] HRESULT MaxSize([out, retval] short* MaxSize)"_s,
            u"[id(0x68030003), propput, "_s + maxSize + u"] HRESULT MaxSize([in] short)"_s,
            u"[id(0x68030002), propget] HRESULT ConnectLines([out, retval] VARIANT_BOOL* "
            u"ConnectLines)"_s,
            u"[id(0x68030002), propput] HRESULT ConnectLines([in] VARIANT_BOOL)"_s,
            u"[id(0x68030001), propget] HRESULT BackColor([out, retval] OLE_COLOR* BackColor)"_s,
            u"[id(0x68030001), propput] HRESULT BackColor([in] OLE_COLOR)"_s,
            u"[id(0x68030000), propget] HRESULT ForeColor([out, retval] OLE_COLOR* ForeColor)"_s,
            u"[id(0x68030000), propput] HRESULT ForeColor([in] OLE_COLOR)"_s,
        }));

    const QString format = u"helpstring(\"Specifies the type of data that is returned\")"_s;
    const QString msrTimeOut = u"helpstring(\"Timeout of the MSR in seconds\")"_s;
    EXPECT_EQ(declarations("_MSRControl"),
              lines({
                  u"[id(0x68030001), propget, "_s + format +
                      u"] HRESULT ReturnFormat([out, retval] unsigned char* ReturnFormat)"_s,
                  u"[id(0x68030001), propput, "_s + format +
                      u"] HRESULT ReturnFormat([in] unsigned char)"_s,
                  u"[id(0x68030000), propget, "_s + msrTimeOut +
                      u"] HRESULT TimeOut([out, retval] short* TimeOut)"_s,
                  u"[id(0x68030000), propput, "_s + msrTimeOut + u"] HRESULT TimeOut([in] short)"_s,
              }));

    EXPECT_EQ(declarations("__SigControl"),
              lines({u"[id(0x00000001), helpstring(\"Fired when Timeout value occurs after "
                     u"the pen is lifted off the pad\")] void SignTimer()"_s}));
    EXPECT_EQ(declarations("__MSRControl"),
              lines({
                  u"[id(0x00000001), helpstring(\"Fired when a valid card swipe occurs\")] void "
                  u"GoodSwipe()"_s,
                  u"[id(0x00000002), helpstring(\"Fires when a bad MSR read is triggered\")] void "
                  u"BadSwipe()"_s,
              }));
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
