#include "widgetmessageboxpresenter.h"

#include <QMessageBox>

namespace Quillset {

Status WidgetMessageBoxPresenter::show(const QString& text)
{
    // No title of our own: the platform shows the application's name.
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, m_parent);
    box.exec();
    return {};
}

} // namespace Quillset
