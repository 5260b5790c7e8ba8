#include "idlwriter.h"

#include <QStringList>

namespace Quillset {

namespace {

// The library flag that marks a library of controls.
constexpr quint32 kLibraryOfControls = 0x2;

QString uuidText(const QUuid& identifier)
{
    return identifier.toString(QUuid::WithoutBraces).toUpper();
}

QString quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString versionText(quint16 major, quint16 minor)
{
    return QStringLiteral("version(%1.%2)").arg(major).arg(minor);
}

QString idText(qint32 id)
{
    return QStringLiteral("id(0x%1)").arg(quint32(id), 8, 16, QLatin1Char('0'));
}

// An attribute block, one attribute a line, as the definitions below are laid out.
QString attributeBlock(const QStringList& attributes, const QString& indent)
{
    return indent + QStringLiteral("[\n") + indent + QStringLiteral("    ") +
           attributes.join(QStringLiteral(",\n") + indent + QStringLiteral("    ")) +
           QLatin1Char('\n') + indent + QStringLiteral("]\n");
}

QStringList typeAttributes(const TypeDescription& type)
{
    QStringList attributes;
    if (type.flags & TypeFlag::Hidden)
        attributes << QStringLiteral("hidden");
    if (type.flags & TypeFlag::Dual)
        attributes << QStringLiteral("dual");
    if (type.flags & TypeFlag::NonExtensible)
        attributes << QStringLiteral("nonextensible");
    if (type.flags & TypeFlag::OleAutomation)
        attributes << QStringLiteral("oleautomation");
    if (type.flags & TypeFlag::Control)
        attributes << QStringLiteral("control");
    if (type.kind == TypeKind::CoClass && !(type.flags & TypeFlag::CanCreate))
        attributes << QStringLiteral("noncreatable");
    return attributes;
}

QString parameterText(const ParameterDescription& parameter)
{
    QStringList direction;
    if (parameter.byReference)
        direction << QStringLiteral("in") << QStringLiteral("out");
    else
        direction << QStringLiteral("in");
    if (parameter.optional)
        direction << QStringLiteral("optional");
    return QLatin1Char('[') + direction.join(QStringLiteral(", ")) + QStringLiteral("] ") +
           parameter.type + (parameter.byReference ? QStringLiteral("* ") : QStringLiteral(" ")) +
           parameter.name;
}

QString memberAttributes(const MemberDescription& member)
{
    QStringList attributes{idText(member.dispatchId)};
    if (member.kind == MemberKind::PropertyGet)
        attributes << QStringLiteral("propget");
    else if (member.kind == MemberKind::PropertyPut)
        attributes << QStringLiteral("propput");
    if (member.hidden)
        attributes << QStringLiteral("hidden");
    if (!member.documentation.isEmpty())
        attributes << QStringLiteral("helpstring(") + quoted(member.documentation) +
                          QLatin1Char(')');
    return QLatin1Char('[') + attributes.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString dualInterface(const TypeDescription& type)
{
    QString text = attributeBlock(
        QStringList{QStringLiteral("uuid(") + uuidText(type.identifier) + QLatin1Char(')'),
                    versionText(type.majorVersion, type.minorVersion)} +
            typeAttributes(type),
        QStringLiteral("    "));
    text += QStringLiteral("    interface %1 : IDispatch\n    {\n").arg(type.name);
    for (const MemberDescription& member : type.members) {
        QStringList parameters;
        for (const ParameterDescription& parameter : member.parameters)
            parameters << parameterText(parameter);
        if (member.kind == MemberKind::PropertyGet)
            parameters
                << QStringLiteral("[out, retval] %1* %2").arg(member.resultType, member.name);
        text += QStringLiteral("        ") + memberAttributes(member) + QLatin1Char('\n');
        text += QStringLiteral("        HRESULT %1(%2);\n")
                    .arg(member.name, parameters.join(QStringLiteral(", ")));
    }
    return text + QStringLiteral("    };\n");
}

QString controlClass(const TypeDescription& type)
{
    QString text = attributeBlock(
        QStringList{QStringLiteral("uuid(") + uuidText(type.identifier) + QLatin1Char(')'),
                    versionText(type.majorVersion, type.minorVersion)} +
            typeAttributes(type),
        QStringLiteral("    "));
    text += QStringLiteral("    coclass %1\n    {\n").arg(type.name);
    for (const ImplementedInterface& implemented : type.interfaces) {
        QStringList attributes;
        if (implemented.isDefault)
            attributes << QStringLiteral("default");
        if (implemented.isSource)
            attributes << QStringLiteral("source");
        text += QStringLiteral("        [%1] %2 %3;\n")
                    .arg(attributes.join(QStringLiteral(", ")),
                         implemented.isSource ? QStringLiteral("dispinterface")
                                              : QStringLiteral("interface"),
                         implemented.name);
    }
    return text + QStringLiteral("    };\n");
}

QString eventInterface(const TypeDescription& type)
{
    // widl refuses version and nonextensible on a dispinterface: the definition keeps them from
    // it, and the build's type library step sets them.
    QStringList attributes = typeAttributes(type);
    attributes.removeAll(QStringLiteral("nonextensible"));
    QString text = QStringLiteral("    [\n        uuid(%1),\n").arg(uuidText(type.identifier));
    text += QStringLiteral("#ifndef __WIDL__\n        %1,\n")
                .arg(versionText(type.majorVersion, type.minorVersion));
    if (type.flags & TypeFlag::NonExtensible)
        text += QStringLiteral("        nonextensible,\n");
    text += QStringLiteral("#endif\n        ") + attributes.join(QStringLiteral(",\n        ")) +
            QStringLiteral("\n    ]\n");
    text += QStringLiteral("    dispinterface %1\n    {\n    properties:\n    methods:\n")
                .arg(type.name);
    for (const MemberDescription& member : type.members)
        text += QStringLiteral("        ") + memberAttributes(member) +
                QStringLiteral("\n        void %1();\n").arg(member.name);
    return text + QStringLiteral("    };\n");
}

} // namespace

QString interfaceDefinition(const LibraryIdentity& identity)
{
    const TypeLibraryDescription& library = identity.library;
    QString text = QStringLiteral("// The type library of the %1 control library,\n"
                                  "// written by the build from the library's identity.\n\n")
                       .arg(library.name);
    text += QStringLiteral("import \"ocidl.idl\";\n\n");
    QStringList attributes{
        QStringLiteral("uuid(") + uuidText(library.identifier) + QLatin1Char(')'),
        versionText(library.majorVersion, library.minorVersion),
        QStringLiteral("lcid(0x%1)").arg(library.locale, 4, 16, QLatin1Char('0'))};
    if (library.flags & kLibraryOfControls)
        attributes << QStringLiteral("control");
    attributes << QStringLiteral("helpstring(") + quoted(library.description) + QLatin1Char(')');
    text += attributeBlock(attributes, QString());
    text += QStringLiteral("library %1\n{\n    importlib(%2);\n")
                .arg(library.name, quoted(library.importedLibrary));
    for (const TypeDescription& type : identity.types) {
        text += QLatin1Char('\n');
        switch (type.kind) {
        case TypeKind::DualInterface:
            text += dualInterface(type);
            break;
        case TypeKind::CoClass:
            text += controlClass(type);
            break;
        case TypeKind::EventInterface:
            text += eventInterface(type);
            break;
        }
    }
    return text + QStringLiteral("};\n");
}

} // namespace Quillset
