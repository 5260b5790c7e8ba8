// Draws the screen pad's four forms as the development guide shows them, each on a 1024 x 600 customer
// screen with example values and, on the signing form, a signature: padWelcome.png,
// padStart.png, padSig.png and padDisconnect.png in the folder given (see
// docs/draw-pad-forms.sh). Runs on the off-screen platform.

#include <cmath>
#include <cstdio>
#include <functional>

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTimer>

#include "core/clock.h"
#include "log/activitylog.h"
#include "pad/padvariables.h"
#include "screenpad/padwindow.h"
#include "screenpad/screenpad.h"
#include "screenpad/signingbox.h"
#include "settings/settings.h"

namespace {

void setVariable(ScreenPad& pad, const QString& name, const QString& value)
{
    QByteArray bytes;
    const qint16 count = PadVariables::valueBytes(value, bytes);
    qint16 status = 0;
    pad.SetVariable(name, bytes, count, status);
}

// A flowing example signature, drawn with the mouse as a customer would.
void sign(SigningBox& box)
{
    const auto send = [&box](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent event(type, at, box.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(&box, &event);
    };
    const double w = box.width();
    const double h = box.height();
    for (int stroke = 0; stroke < 2; ++stroke) {
        const int steps = 160;
        for (int i = 0; i <= steps; ++i) {
            const double t = double(i) / steps;
            const QPointF at =
                stroke == 0 ? QPointF(w * (0.12 + 0.5 * t),
                                      h * (0.55 - 0.25 * std::sin(t * 18.0) * (1.0 - 0.4 * t)))
                            : QPointF(w * (0.6 + 0.28 * t), h * (0.45 + 0.2 * std::sin(t * 9.0)));
            send(i == 0 ? QEvent::MouseButtonPress : QEvent::MouseMove, at, Qt::LeftButton);
        }
        send(QEvent::MouseButtonRelease, QPointF(), Qt::NoButton);
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: varnel-drawpadforms FOLDER\n");
        return 2;
    }
    const QDir folder(app.arguments().at(1));
    SystemClock clock;
    ActivityLog log(folder.filePath(QStringLiteral("drawpadforms.log")), clock);
    const Qp6100Settings settings;
    ScreenPad pad(settings, log);
    qint16 status = 0;
    pad.OpenPort(0, 0, status);
    if (status != 1)
        return 1;
    PadWindow& window = *pad.window();
    window.showNormal();
    window.resize(1024, 600);
    setVariable(pad, PadVariable::kTotal, QStringLiteral("42.50"));
    setVariable(pad, PadVariable::kFullname, QStringLiteral("Jane Doe"));
    setVariable(pad, PadVariable::kAccount, QStringLiteral("Table 12"));
    // Each form is grabbed once the event loop has laid it out.
    const QStringList forms{PadForm::kWelcome, PadForm::kStart, PadForm::kSig,
                            PadForm::kDisconnect};
    qsizetype shown = 0;
    bool saved = true;
    std::function<void()> drawNext = [&] {
        if (shown > 0) {
            const QString& form = forms.at(shown - 1);
            if (form == PadForm::kSig)
                sign(window.signingBox());
            saved = window.grab().save(folder.filePath(form + QStringLiteral(".png"))) && saved;
        }
        if (shown == forms.size()) {
            QCoreApplication::exit(0);
            return;
        }
        pad.ShowForm(forms.at(shown++), status);
        QTimer::singleShot(0, drawNext);
    };
    QTimer::singleShot(0, drawNext);
    app.exec();
    pad.ClosePort();
    QFile::remove(folder.filePath(QStringLiteral("drawpadforms.log")));
    return saved ? 0 : 1;
}
