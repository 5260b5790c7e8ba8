#include "doors/serverequest.h"

#include <QMetaObject>
#include <QPointer>

#include "request/requester.h"
#include "request/requestservice.h"

void serveRequest(QObject& door, RequestService& service, Requester& requester,
                  const QByteArray& bytes)
{
    QMetaObject::invokeMethod(
        &door,
        [&service, target = QPointer<Requester>(&requester), address = requester.peerAddress(),
         bytes] { service.serve(target.data(), address, bytes); },
        Qt::QueuedConnection);
}
