#include "core/livesettings.h"

LiveSettings::LiveSettings(QObject* parent) : QObject(parent) {}

void LiveSettings::load(const WindowFields& stored, const std::function<void()>& list_comm_ports)
{
    setTxtSockport(stored.local.sockport);
    setTxtFtpUrl(stored.ftp.url);
    setTxtFtpUsername(stored.ftp.user);
    setTxtFtpPassword(stored.ftp.password);
    setChkQP6100Device(stored.qp6100.device);
    if (list_comm_ports)
        list_comm_ports();
    setChk1000SEDevice(stored.pinPad.device);
    // Set after the scan refilled the list, so a stored port shows even when it was not found.
    setCbo1000SECommPort(stored.pinPad.commPort);
    setCbo1000SEBaudRate(stored.pinPad.baudRate);
    setTxt1000SEParity(stored.pinPad.parity);
    setTxt1000SEDataBits(stored.pinPad.dataBits);
    setTxt1000SEEncryption(stored.pinPad.encryption);

    // Each handler runs at least once with the loaded state, even when the state did not change.
    clickChkQP6100Device();
    clickChk1000SEDevice();
}

void LiveSettings::setChkQP6100Device(int state)
{
    if (state == m_fields.qp6100.device)
        return;
    m_fields.qp6100.device = state;
    Q_EMIT chkQP6100DeviceClick();
    Q_EMIT changed();
}

void LiveSettings::setChk1000SEDevice(int state)
{
    if (state == m_fields.pinPad.device)
        return;
    m_fields.pinPad.device = state;
    Q_EMIT chk1000SEDeviceClick();
    Q_EMIT changed();
}
