#pragma once

#include <QPointer>
#include <QWidget>

#include "messageboxpresenter.h"

namespace Quillset {

// A modal message box over the control's window. The parent may be destroyed while the box is
// open; the box then goes with it.
class QUILLSET_EXPORT WidgetMessageBoxPresenter final : public MessageBoxPresenter
{
public:
    explicit WidgetMessageBoxPresenter(QWidget* parent) : m_parent(parent) {}
    Status show(const QString& text) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace Quillset
