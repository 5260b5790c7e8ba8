#include "core/livesettings.h"

#include <functional>
#include <vector>

#include <gtest/gtest.h>

namespace {

// One field of the model: a write of a new value, and the value read back as text.
struct FieldAccess
{
    const char* expected;
    std::function<void(LiveSettings&)> write;
    std::function<QString(const LiveSettings&)> read;
};

template <typename Set, typename Get> FieldAccess textField(const char* value, Set set, Get get)
{
    return {value, [set, value](LiveSettings& s) { (s.*set)(QLatin1String(value)); },
            [get](const LiveSettings& s) { return (s.*get)(); }};
}

template <typename Set, typename Get> FieldAccess switchedOn(Set set, Get get)
{
    return {"on", [set](LiveSettings& s) { (s.*set)(true); },
            [get](const LiveSettings& s) {
                return (s.*get)() ? QStringLiteral("on") : QStringLiteral("off");
            }};
}

} // namespace

// Whoever writes a field, the window hears of it once; writing the value a field already holds
// is no change.
TEST(LiveSettings, EverySetterAnnouncesItsChangeOnce)
{
    using L = LiveSettings;
    const std::vector<FieldAccess> fields = {
        textField("31421", &L::setTxtSockport, &L::txtSockport),
        textField("ftp://h", &L::setTxtFtpUrl, &L::txtFtpUrl),
        textField("user", &L::setTxtFtpUsername, &L::txtFtpUsername),
        textField("pass", &L::setTxtFtpPassword, &L::txtFtpPassword),
        textField("3", &L::setCbo1000SECommPort, &L::cbo1000SECommPort),
        textField("9600", &L::setCbo1000SEBaudRate, &L::cbo1000SEBaudRate),
        textField("N", &L::setTxt1000SEParity, &L::txt1000SEParity),
        textField("8", &L::setTxt1000SEDataBits, &L::txt1000SEDataBits),
        textField("DUKPT", &L::setTxt1000SEEncryption, &L::txt1000SEEncryption),
        switchedOn(&L::setMnuQP6100Connect, &L::mnuQP6100Connect),
        switchedOn(&L::setMnuQP6100Disconnect, &L::mnuQP6100Disconnect),
        switchedOn(&L::setMnuQP6100PadForms, &L::mnuQP6100PadForms),
        switchedOn(&L::setMnuQP6100LoadScript, &L::mnuQP6100LoadScript),
        switchedOn(&L::setFields1000SEEnabled, &L::fields1000SEEnabled),
        {"1,3",
         [](L& s) {
             s.setCommPortList({QStringLiteral("1"), QStringLiteral("3")});
         },
         [](const L& s) { return s.commPortList().join(QLatin1Char(',')); }},
    };
    for (const FieldAccess& field : fields) {
        LiveSettings settings;
        int changes = 0;
        QObject::connect(&settings, &LiveSettings::changed, [&changes] { ++changes; });
        field.write(settings);
        EXPECT_EQ(field.read(settings), QLatin1String(field.expected));
        EXPECT_EQ(changes, 1) << field.expected;
        field.write(settings);
        EXPECT_EQ(changes, 1) << field.expected << ": the same value again";
    }
}
