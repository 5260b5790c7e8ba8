#include "quillsetplugin.h"

#include "controlplugin.h"
#include "libraryidentity.h"
#include "msrcontrol.h"
#include "sigcontrol.h"

namespace {

QString toolboxPicture(const QString& className)
{
    for (const Quillset::ControlRegistration& control : Quillset::libraryIdentity().controls)
        if (control.className == className)
            return control.toolboxPicture;
    return {};
}

// A control placed anew gets the container's initialise notice, as a host's new window would.
template <typename Control> QWidget* placeNew(QWidget* parent)
{
    auto* control = new Control(parent);
    if (Quillset::Status status = control->initProperties(); !status.ok())
        qWarning("Quillset: %s", qUtf8Printable(status.text()));
    return control;
}

} // namespace

QuillsetPlugin::QuillsetPlugin(QObject* parent) : QObject(parent)
{
    m_widgets << new ControlPlugin(
                     {QStringLiteral("Quillset::SigControl"), QStringLiteral("sigcontrol.h"),
                      QStringLiteral("Mirrors a signature from the pen samples "
                                     "of a signature pad"),
                      toolboxPicture(QStringLiteral("SigControl")), placeNew<Quillset::SigControl>},
                     this)
              << new ControlPlugin(
                     {QStringLiteral("Quillset::MSRControl"), QStringLiteral("msrcontrol.h"),
                      QStringLiteral("Stands for the signature pad's card reader"),
                      toolboxPicture(QStringLiteral("MSRControl")), placeNew<Quillset::MSRControl>},
                     this);
}
