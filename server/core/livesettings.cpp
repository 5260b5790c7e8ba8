#include "core/livesettings.h"

LiveSettings::LiveSettings(QObject* parent) : QObject(parent) {}

void LiveSettings::setChkQP6100Device(int state)
{
    if (state == m_chkQP6100Device)
        return;
    m_chkQP6100Device = state;
    Q_EMIT chkQP6100DeviceClick();
    Q_EMIT changed();
}

void LiveSettings::setChk1000SEDevice(int state)
{
    if (state == m_chk1000SEDevice)
        return;
    m_chk1000SEDevice = state;
    Q_EMIT chk1000SEDeviceClick();
    Q_EMIT changed();
}
