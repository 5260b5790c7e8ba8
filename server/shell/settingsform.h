#pragma once

#include <QWidget>

class LiveSettings;

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

    explicit SettingsForm(LiveSettings& settings, QWidget* parent = nullptr);

    // Shows the model's fields, list entries, box states and enabled states.
    void refresh();

    // A design length in twips as whole pixels.
    static int pixels(int twips);

private:
    void createControls();
    void bindFields();
    void bindDeviceBoxes();

    LiveSettings& m_settings;
    // Set while the form shows the model, so that showing is not taken for typing.
    bool m_refreshing = false;
};
