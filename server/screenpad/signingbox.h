#pragma once

#include <QWidget>

#include "screenpad/strokerecorder.h"

// The pure white box the customer signs in, with a pen (tablet events, pressure ignored), a
// finger (touch events) or a mouse. The ink is drawn from the kept pen points, so what shows
// is what will be saved.
class SigningBox : public QWidget
{
    Q_OBJECT

public:
    explicit SigningBox(QWidget* parent = nullptr);

    // Whether strokes are taken; a finished or abandoned signature takes no more ink.
    void setAccepting(bool accepting);
    void clear();
    const PenStrokes& strokes() const { return m_recorder.strokes(); }
    bool isEmpty() const { return m_recorder.isEmpty(); }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void tabletEvent(QTabletEvent* event) override;

private:
    void penDown(QPointF at);
    void penMove(QPointF at);
    void penUp();

    StrokeRecorder m_recorder;
    bool m_accepting = false;
};
