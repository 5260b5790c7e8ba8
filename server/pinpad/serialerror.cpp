#include "pinpad/serialerror.h"

namespace SerialError {

int fromOpenError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return NoSuchDevice;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return PortInUse;
    case QSerialPort::UnsupportedOperationError:
        return InvalidSetting;
    default:
        return LineFailed;
    }
}

bool endsLine(QSerialPort::SerialPortError error)
{
    return error != QSerialPort::NoError && error != QSerialPort::TimeoutError;
}

} // namespace SerialError
