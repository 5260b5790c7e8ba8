#pragma once

#include "messageboxpresenter.h"

class QWidget;

namespace Quillset {

// A modal message box over the control's window.
class QUILLSET_EXPORT WidgetMessageBoxPresenter final : public MessageBoxPresenter
{
public:
    explicit WidgetMessageBoxPresenter(QWidget* parent) : m_parent(parent) {}
    Status show(const QString& text) override;

private:
    QWidget* m_parent;
};

} // namespace Quillset
