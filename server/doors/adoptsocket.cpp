#include "doors/adoptsocket.h"

#include <unistd.h>

bool takeDescriptor(QAbstractSocket& socket, qintptr descriptor)
{
    if (socket.setSocketDescriptor(descriptor))
        return true;
    ::close(int(descriptor));
    return false;
}
