#pragma once

#include <QWidget>

class LiveSettings;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;

// The settings window's client area: the four groups of fields, placed as designed in twips
// at 15 twips a pixel, and bound both ways to the live settings. Typing in a field changes the
// model at once, so the next operation uses it before any save; clicking a device box changes
// the model's box, whose handler then runs as it does without a window.
class SettingsForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kTwipsPerPixel = 15;
    // The client area as designed: 8130 x 4320 twips.
    static constexpr int kWidthTwips = 8130;
    static constexpr int kHeightTwips = 4320;

    // The form's controls, each under the name it has as an object too.
    struct Controls
    {
        QGroupBox* grpLocal;
        QLabel* lblSockport;
        QLineEdit* txtSockport;
        QGroupBox* grpFTP;
        QLabel* lblFtpUrl;
        QLabel* lblFtpUsername;
        QLabel* lblFtpPassword;
        QLineEdit* txtFtpUrl;
        QLineEdit* txtFtpUsername;
        QLineEdit* txtFtpPassword;
        QGroupBox* grpQP6100;
        QCheckBox* chkQP6100Device;
        QGroupBox* grp1000SE;
        QLabel* lbl1000SEComPort;
        QLabel* lbl1000SEBaudRate;
        QLabel* lbl1000SEParity;
        QLineEdit* txt1000SEParity;
        QLabel* lbl1000SEDataBits;
        QLineEdit* txt1000SEDataBits;
        QLabel* lbl1000SEEncryption;
        QLineEdit* txt1000SEEncryption;
        QCheckBox* chk1000SEDevice;
        QComboBox* cbo1000SECommPort;
        QComboBox* cbo1000SEBaudRate;
    };

    explicit SettingsForm(LiveSettings& settings, QWidget* parent = nullptr);

    // Shows the model's fields, list entries, box states and enabled states.
    void refresh();

    const Controls& controls() const { return m_controls; }

    // A design length in twips as whole pixels.
    static int pixels(int twips);

private:
    void createControls();
    void bindFields();
    void bindDeviceBoxes();

    LiveSettings& m_settings;
    Controls m_controls{};
    // Set while the form shows the model, so that showing is not taken for typing.
    bool m_refreshing = false;
};
