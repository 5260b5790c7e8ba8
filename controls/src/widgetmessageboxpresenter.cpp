#include "widgetmessageboxpresenter.h"

#include <QMessageBox>

namespace Quillset {

Status WidgetMessageBoxPresenter::show(const QString& text)
{
    // No title of our own: the platform shows the application's name. The box lives on the heap
    // because its event loop lets the host destroy its parent, which deletes the box with it;
    // this presenter may go too, so nothing of it is touched once the box is shown.
    const QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, m_parent);
    box->exec();
    delete box.data();
    return {};
}

} // namespace Quillset
