#include "pinpad/commportscan.h"

#include "core/failure.h"
#include "core/livesettings.h"
#include "log/activitylog.h"
#include "pinpad/serialerror.h"
#include "pinpad/serialportname.h"
#include "pinpad/serialprobe.h"

namespace {
constexpr qint16 kFirstPort = 1;
constexpr qint16 kLastPort = 8;
} // namespace

CommPortScan::CommPortScan(SerialProbe& probe, LiveSettings& settings, ActivityLog& log,
                           QMap<int, QString> serialPorts)
    : m_probe(probe), m_settings(settings), m_log(log), m_serialPorts(std::move(serialPorts))
{
}

void CommPortScan::list_comm_ports()
{
    m_found.clear();
    for (qint16 port = kFirstPort; port <= kLastPort; ++port)
        commPort_get_info(port);
    m_settings.setCommPortList(m_found);
}

void CommPortScan::commPort_get_info(qint16 port)
{
    const QString number = QString::number(port);
    m_log.log(QStringLiteral("commPort_get_info: COM") + number);
    if (m_probe.PortOpen())
        m_probe.closePort();
    try {
        const QString device = SerialPortName::devicePath(number, m_serialPorts);
        if (device.isEmpty())
            throw Failure(SerialError::InvalidSetting);
        m_probe.openPort(device);
        m_log.log(QStringLiteral("commPort_get_info: AddItem x=[") + number + QLatin1Char(']'));
        m_found.append(number);
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("commPort_get_info: ") + errorNumberText(failure.code()));
    }
    // A port held by the scan could not be opened by the PIN pad: release it at once.
    m_probe.closePort();
}
