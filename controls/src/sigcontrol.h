#pragma once

#include <memory>
#include <optional>

#include <QWidget>

#include "drawingsurface.h"
#include "olecolor.h"
#include "quillsetglobal.h"
#include "status.h"

namespace Quillset {

class ChangeNotice;
class MessageBoxPresenter;
class PropertyStore;

// The signature mimic: mirrors, sample by sample, the signature a customer writes on the pad.
// The host reads pen samples from the pad and hands each one to MimicSetPixel; the control only
// draws them, and keeps a few settings that it saves with the host's window.
class QUILLSET_EXPORT SigControl : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int BorderStyle READ BorderStyle WRITE setBorderStyle)
    Q_PROPERTY(int TimeOut READ TimeOut WRITE setTimeOut)
    Q_PROPERTY(int MaxSize READ MaxSize WRITE setMaxSize)
    Q_PROPERTY(bool ConnectLines READ ConnectLines WRITE setConnectLines)
    Q_PROPERTY(uint BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(uint ForeColor READ ForeColor WRITE setForeColor)

public:
    // notice hears of property changes (none: changes are only signalled); messageBox shows
    // MimicStatus (none: a message box over the control). Neither is owned.
    explicit SigControl(QWidget* parent = nullptr, ChangeNotice* notice = nullptr,
                        MessageBoxPresenter* messageBox = nullptr);
    ~SigControl() override;

    // 0 no border, 1 a single-line border.
    qint16 BorderStyle() const { return m_borderStyle; }
    Status BorderStyle(qint16 New_BorderStyle);
    // Seconds after pen lift, kept for the host.
    qint16 TimeOut() const { return m_TimeOut; }
    Status TimeOut(qint16 New_TimeOut);
    // Removes the background picture, clears the ink and moves the current position to (0, 0).
    Status MimicClearScreen();
    // From now on the surface is W units wide and H units high.
    Status MimicSetScale(qint16 W, qint16 H);
    // Without X2: a line from the current position to (X1, Y1); with it, from (X1, Y1) to
    // (X2, Y2), a missing Y2 counting as 0. Repaints at once.
    Status MimicSetLine(qint16 X1, qint16 Y1, std::optional<qint16> X2 = std::nullopt,
                        std::optional<qint16> Y2 = std::nullopt);
    // Shows the current drawing position in a message box (a diagnostic).
    Status MimicStatus();
    // One pen sample. Both coordinates negative: no point. With ConnectLines and the pen
    // down (pentouch not 0) a line from the current position, otherwise a dot.
    Status MimicSetPixel(qint16 X, qint16 Y, qint16 pentouch);
    // Signature size limit, kept for the host.
    qint16 MaxSize() const { return m_MaxSize; }
    Status MaxSize(qint16 New_MaxSize);
    bool ConnectLines() const { return m_ConnectLines; }
    Status ConnectLines(bool New_ConnectLines);
    OLE_COLOR BackColor() const { return m_BackColor; }
    Status BackColor(OLE_COLOR vNewValue);
    OLE_COLOR ForeColor() const { return m_ForeColor; }
    Status ForeColor(OLE_COLOR vNewValue);

    // The container's three notices: placed anew, loaded from a saved window, saved.
    Status initProperties();
    Status readProperties(PropertyStore& store);
    Status writeProperties(PropertyStore& store);

    // Setters for the designer's property editor; a refused value leaves the property as it is.
    void setBorderStyle(int value);
    void setTimeOut(int value);
    void setMaxSize(int value);
    void setConnectLines(bool value);
    void setBackColor(uint value);
    void setForeColor(uint value);

    // The drawing surface, as the control shows it inside its border.
    const DrawingSurface& surface() const;

    QSize sizeHint() const override;

Q_SIGNALS:
    // A saved property changed; the name is the one it is saved under.
    void propertyChanged(const QString& name);
    // Declared for hosts; the control never raises it.
    void SignTimer();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    Status applySurfaceColors();
    QRect clientRect() const;
    // The surface at the control's present size: a hidden control gets no resize events.
    DrawingSurface& sizedSurface() const;

    mutable DrawingSurface m_surface;
    qint16 m_borderStyle = 1;
    bool m_ConnectLines = false;
    qint16 m_TimeOut = 10;
    qint16 m_MaxSize = 1024;
    OLE_COLOR m_ForeColor = 0;
    OLE_COLOR m_BackColor = 0xFFFFFF;
    ChangeNotice* m_notice;
    std::unique_ptr<MessageBoxPresenter> m_ownMessageBox;
    MessageBoxPresenter* m_messageBox;
};

} // namespace Quillset
