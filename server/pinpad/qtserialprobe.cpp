#include "pinpad/qtserialprobe.h"

#include "core/failure.h"
#include "pinpad/serialerror.h"

void QtSerialProbe::openPort(const QString& devicePath)
{
    closePort();
    m_port.setPortName(devicePath);
    if (!m_port.open(QIODevice::ReadWrite))
        throw Failure(SerialError::fromOpenError(m_port.error()), m_port.errorString());
}

void QtSerialProbe::closePort()
{
    if (m_port.isOpen())
        m_port.close();
}
