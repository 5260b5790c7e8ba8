#include "shell/settingsform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>

#include "core/livesettings.h"

namespace {

using Controls = SettingsForm::Controls;

// A control's place as designed, relative to its group, and the groups' to the client area.
struct Twips
{
    int left, top, width, height;
};

// A text field or list and the model's field it shows.
template <typename Control> struct FieldBinding
{
    Control* Controls::*control;
    QString (LiveSettings::*field)() const;
    void (LiveSettings::*setField)(const QString&);
};

const FieldBinding<QLineEdit> kTextFields[] = {
    {&Controls::txtSockport, &LiveSettings::txtSockport, &LiveSettings::setTxtSockport},
    {&Controls::txtFtpUrl, &LiveSettings::txtFtpUrl, &LiveSettings::setTxtFtpUrl},
    {&Controls::txtFtpUsername, &LiveSettings::txtFtpUsername, &LiveSettings::setTxtFtpUsername},
    {&Controls::txtFtpPassword, &LiveSettings::txtFtpPassword, &LiveSettings::setTxtFtpPassword},
    {&Controls::txt1000SEParity, &LiveSettings::txt1000SEParity, &LiveSettings::setTxt1000SEParity},
    {&Controls::txt1000SEDataBits, &LiveSettings::txt1000SEDataBits,
     &LiveSettings::setTxt1000SEDataBits},
    {&Controls::txt1000SEEncryption, &LiveSettings::txt1000SEEncryption,
     &LiveSettings::setTxt1000SEEncryption},
};

const FieldBinding<QComboBox> kListFields[] = {
    {&Controls::cbo1000SECommPort, &LiveSettings::cbo1000SECommPort,
     &LiveSettings::setCbo1000SECommPort},
    {&Controls::cbo1000SEBaudRate, &LiveSettings::cbo1000SEBaudRate,
     &LiveSettings::setCbo1000SEBaudRate},
};

const char* const kBaudRates[] = {"75",    "110",   "134",   "150",   "300",    "600",
                                  "1200",  "1800",  "2400",  "4800",  "7200",   "9600",
                                  "14400", "19200", "38400", "57600", "115200", "128000"};

// Makes the form's controls. They are made in tab order, which makes the keyboard order the
// design's.
class ControlMaker
{
public:
    explicit ControlMaker(QWidget& form) : m_form(form), m_fieldFont(form.font().family())
    {
        // "MS Sans Serif" 8.25 point is 11 pixels on a 96 dots-per-inch screen.
        // Every attribute is set, so that nothing of a group's bold caption font is inherited.
        m_fieldFont.setPixelSize(11);
        m_fieldFont.setBold(false);
        m_fieldFont.setItalic(false);
    }

    QGroupBox* group(const char* name, const char* caption, Twips at)
    {
        auto* group = new QGroupBox(QLatin1String(caption), &m_form);
        // Group captions are bold; their contents are not.
        QFont bold = m_fieldFont;
        bold.setBold(true);
        group->setFont(bold);
        return place(group, name, at);
    }

    QLabel* label(QWidget* group, const char* name, const char* caption, Twips at)
    {
        return field(new QLabel(QLatin1String(caption), group), name, at);
    }

    QLineEdit* textBox(QWidget* group, const char* name, Twips at)
    {
        return field(new QLineEdit(group), name, at);
    }

    QLineEdit* passwordBox(QWidget* group, const char* name, Twips at)
    {
        auto* password = new QLineEdit(group);
        password->setEchoMode(QLineEdit::Password);
        // Every character shows as "*", whatever the style's own mask character.
        password->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
        return field(password, name, at);
    }

    QCheckBox* checkBox(QWidget* group, const char* name, const char* caption, Twips at)
    {
        return field(new QCheckBox(QLatin1String(caption), group), name, at);
    }

    QComboBox* dropDown(QWidget* group, const char* name, Twips at)
    {
        auto* list = new QComboBox(group);
        // Typed text that is not in the list is kept as the field's text, not added to it.
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
        return field(list, name, at);
    }

private:
    template <typename Control> Control* field(Control* control, const char* name, Twips at)
    {
        control->setFont(m_fieldFont);
        return place(control, name, at);
    }

    template <typename Control> Control* place(Control* control, const char* name, Twips at)
    {
        control->setObjectName(QLatin1String(name));
        control->setGeometry(SettingsForm::pixels(at.left), SettingsForm::pixels(at.top),
                             SettingsForm::pixels(at.width), SettingsForm::pixels(at.height));
        if (control->focusPolicy() & Qt::TabFocus) {
            if (m_previousField)
                QWidget::setTabOrder(m_previousField, control);
            m_previousField = control;
        }
        return control;
    }

    QWidget& m_form;
    QFont m_fieldFont;
    QWidget* m_previousField = nullptr;
};

void showText(QLineEdit* edit, const QString& text)
{
    // Only a changed text is set, so that a field being typed in keeps its cursor. A text set
    // from here shows its beginning: a long URL is read from its scheme and host.
    if (edit->text() == text)
        return;
    edit->setText(text);
    edit->setCursorPosition(0);
}

void showText(QComboBox* list, const QString& text)
{
    if (list->currentText() == text)
        return;
    list->setEditText(text);
    if (list->lineEdit())
        list->lineEdit()->setCursorPosition(0);
}

void showState(QCheckBox* box, int state)
{
    box->setTristate(state == LiveSettings::Greyed);
    box->setCheckState(state == LiveSettings::Ticked   ? Qt::Checked
                       : state == LiveSettings::Greyed ? Qt::PartiallyChecked
                                                       : Qt::Unchecked);
}

} // namespace

SettingsForm::SettingsForm(LiveSettings& settings, QWidget* parent)
    : QWidget(parent), m_settings(settings)
{
    setFixedSize(pixels(kWidthTwips), pixels(kHeightTwips));
    createControls();
    bindFields();
    bindDeviceBoxes();
    connect(&m_settings, &LiveSettings::changed, this, &SettingsForm::refresh);
    refresh();
}

int SettingsForm::pixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

void SettingsForm::createControls()
{
    ControlMaker make(*this);
    Controls& c = m_controls;
    c.grpLocal = make.group("grpLocal", "Local Params", {120, 120, 2895, 975});
    c.lblSockport = make.label(c.grpLocal, "lblSockport", "Sockport:", {240, 360, 975, 285});
    c.txtSockport = make.textBox(c.grpLocal, "txtSockport", {1320, 360, 1215, 400});

    c.grpFTP = make.group("grpFTP", "FTP Params", {3240, 120, 4815, 2055});
    c.lblFtpUrl = make.label(c.grpFTP, "lblFtpUrl", "URL:", {360, 360, 975, 285});
    c.lblFtpUsername = make.label(c.grpFTP, "lblFtpUsername", "Username:", {360, 840, 975, 285});
    c.lblFtpPassword = make.label(c.grpFTP, "lblFtpPassword", "Password:", {360, 1320, 975, 285});
    c.txtFtpUrl = make.textBox(c.grpFTP, "txtFtpUrl", {1440, 360, 3135, 400});
    c.txtFtpUsername = make.textBox(c.grpFTP, "txtFtpUsername", {1440, 840, 1815, 400});
    c.txtFtpPassword = make.passwordBox(c.grpFTP, "txtFtpPassword", {1440, 1320, 1815, 400});

    c.grpQP6100 = make.group("grpQP6100", "QP6100 Params", {120, 1200, 2895, 975});
    c.chkQP6100Device =
        make.checkBox(c.grpQP6100, "chkQP6100Device", "Device?", {360, 360, 1095, 375});

    c.grp1000SE = make.group("grp1000SE", "Verifone 1000 SE Params", {120, 2280, 7935, 1935});
    c.lbl1000SEComPort =
        make.label(c.grp1000SE, "lbl1000SEComPort", "Comm Port:", {240, 840, 975, 285});
    c.lbl1000SEBaudRate =
        make.label(c.grp1000SE, "lbl1000SEBaudRate", "Baud Rate:", {240, 1320, 975, 285});
    c.lbl1000SEParity =
        make.label(c.grp1000SE, "lbl1000SEParity", "Parity:", {3720, 360, 975, 285});
    c.txt1000SEParity = make.textBox(c.grp1000SE, "txt1000SEParity", {4800, 360, 1215, 400});
    c.lbl1000SEDataBits =
        make.label(c.grp1000SE, "lbl1000SEDataBits", "Data Bits:", {3720, 840, 975, 285});
    c.txt1000SEDataBits = make.textBox(c.grp1000SE, "txt1000SEDataBits", {4800, 840, 1215, 400});
    c.lbl1000SEEncryption =
        make.label(c.grp1000SE, "lbl1000SEEncryption", "Encryption:", {3720, 1320, 975, 285});
    c.txt1000SEEncryption =
        make.textBox(c.grp1000SE, "txt1000SEEncryption", {4800, 1320, 1215, 400});
    c.chk1000SEDevice =
        make.checkBox(c.grp1000SE, "chk1000SEDevice", "Device?", {480, 360, 1095, 375});
    c.cbo1000SECommPort = make.dropDown(c.grp1000SE, "cbo1000SECommPort", {1320, 840, 735, 315});
    c.cbo1000SEBaudRate = make.dropDown(c.grp1000SE, "cbo1000SEBaudRate", {1320, 1320, 1215, 315});

    for (const char* rate : kBaudRates)
        c.cbo1000SEBaudRate->addItem(QLatin1String(rate));
    c.cbo1000SECommPort->setToolTip(QStringLiteral("Choose Verifone 1000SE Comm Port"));
}

void SettingsForm::bindFields()
{
    const auto storer = [this](void (LiveSettings::*setField)(const QString&)) {
        return [this, setField](const QString& text) {
            if (!m_refreshing)
                (m_settings.*setField)(text);
        };
    };
    for (const FieldBinding<QLineEdit>& binding : kTextFields)
        connect(m_controls.*binding.control, &QLineEdit::textEdited, this,
                storer(binding.setField));
    for (const FieldBinding<QComboBox>& binding : kListFields)
        connect(m_controls.*binding.control, &QComboBox::editTextChanged, this,
                storer(binding.setField));
}

void SettingsForm::bindDeviceBoxes()
{
    connect(m_controls.chkQP6100Device, &QCheckBox::clicked, this, [this](bool ticked) {
        m_settings.setChkQP6100Device(ticked ? LiveSettings::Ticked : LiveSettings::Unticked);
    });
    connect(m_controls.chk1000SEDevice, &QCheckBox::clicked, this, [this](bool ticked) {
        m_settings.setChk1000SEDevice(ticked ? LiveSettings::Ticked : LiveSettings::Unticked);
    });
}

void SettingsForm::refresh()
{
    const QScopedValueRollback<bool> refreshing(m_refreshing, true);
    const Controls& c = m_controls;
    QStringList listed;
    for (int i = 0; i < c.cbo1000SECommPort->count(); ++i)
        listed << c.cbo1000SECommPort->itemText(i);
    if (listed != m_settings.commPortList()) {
        c.cbo1000SECommPort->clear();
        c.cbo1000SECommPort->addItems(m_settings.commPortList());
    }
    for (const FieldBinding<QLineEdit>& binding : kTextFields)
        showText(c.*binding.control, (m_settings.*binding.field)());
    for (const FieldBinding<QComboBox>& binding : kListFields)
        showText(c.*binding.control, (m_settings.*binding.field)());
    showState(c.chkQP6100Device, m_settings.chkQP6100Device());
    showState(c.chk1000SEDevice, m_settings.chk1000SEDevice());
    // The five fields that accept input only while the 1000SE box is ticked.
    for (QWidget* field : std::initializer_list<QWidget*>{c.cbo1000SECommPort, c.cbo1000SEBaudRate,
                                                          c.txt1000SEParity, c.txt1000SEDataBits,
                                                          c.txt1000SEEncryption})
        field->setEnabled(m_settings.fields1000SEEnabled());
}
