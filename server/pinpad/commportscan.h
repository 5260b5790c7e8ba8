#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class ActivityLog;
class LiveSettings;
class SerialProbe;

// Fills the Comm Port list with the serial ports 1 to 8 that open, at start-up.
class CommPortScan
{
public:
    // Ports go through the mapping of section "SerialPorts" in the settings file.
    CommPortScan(SerialProbe& probe, LiveSettings& settings, ActivityLog& log,
                 QMap<int, QString> serialPorts);

    // Empties the list, then probes ports 1 to 8 in ascending order.
    void list_comm_ports();
    // Lists the port when it opens, logs the error number when it does not; the port is
    // released again either way.
    void commPort_get_info(qint16 port);

private:
    SerialProbe& m_probe;
    LiveSettings& m_settings;
    ActivityLog& m_log;
    QMap<int, QString> m_serialPorts;
    // The ports found by the scan under way, handed to the list in one change.
    QStringList m_found;
};
