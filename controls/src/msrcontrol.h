#pragma once

#include <QImage>
#include <QWidget>

#include "quillsetglobal.h"
#include "status.h"

namespace Quillset {

class ChangeNotice;
class PropertyStore;

// Stands for the pad's magnetic stripe reader on a host's window: shows a card picture, keeps
// the format card data is to be returned in and a reader time-out, and declares the swipe
// events. It talks to no device.
class QUILLSET_EXPORT MSRControl : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int ReturnFormat READ ReturnFormat WRITE setReturnFormat)
    Q_PROPERTY(int TimeOut READ TimeOut WRITE setTimeOut)

public:
    // notice hears of property changes (none: changes are only signalled); not owned.
    explicit MSRControl(QWidget* parent = nullptr, ChangeNotice* notice = nullptr);

    // Code for the kind of card data the host is to return.
    quint8 ReturnFormat() const { return m_ReturnFormat; }
    Status ReturnFormat(quint8 New_ReturnFormat);
    // Reader time-out in seconds, kept for the host.
    qint16 TimeOut() const { return m_TimeOut; }
    Status TimeOut(qint16 New_TimeOut);

    // The container's three notices: placed anew, loaded from a saved window, saved.
    Status initProperties();
    Status readProperties(PropertyStore& store);
    Status writeProperties(PropertyStore& store);

    // Setters for the designer's property editor; a refused value leaves the property as it is.
    void setReturnFormat(int value);
    void setTimeOut(int value);

    QSize sizeHint() const override;

Q_SIGNALS:
    // A saved property changed; the name is the one it is saved under.
    void propertyChanged(const QString& name);
    // Declared for hosts; the control never raises them.
    void GoodSwipe();
    void BadSwipe();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    quint8 m_ReturnFormat = 8;
    qint16 m_TimeOut = 0;
    ChangeNotice* m_notice;
    QImage m_picture;
};

} // namespace Quillset
