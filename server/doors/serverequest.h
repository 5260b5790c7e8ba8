#pragma once

#include <QByteArray>

class QObject;
class RequestService;
class Requester;

// Hands one request that arrived on `requester` to `service`, from the event loop rather than
// inside the socket's announcement: a socket announces no new data while its announcement is
// being handled, and a request that arrives while another waits is served as it comes. The
// request runs even when the requester has gone by then; it is dropped only with `door`.
void serveRequest(QObject& door, RequestService& service, Requester& requester,
                  const QByteArray& bytes);
