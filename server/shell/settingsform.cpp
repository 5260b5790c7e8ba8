#include "shell/settingsform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>

#include "core/livesettings.h"

namespace {

enum class Kind { Group, Label, TextBox, PasswordBox, CheckBox, DropDown };

// One control of the window as designed; positions are relative to the parent group, and the
// groups' to the client area. The rows are in tab order.
struct ControlDesign
{
    const char* name;
    Kind kind;
    const char* caption;
    const char* parent;
    int left, top, width, height;
};

constexpr ControlDesign kControls[] = {
    {"grpLocal", Kind::Group, "Local Params", nullptr, 120, 120, 2895, 975},
    {"lblSockport", Kind::Label, "Sockport:", "grpLocal", 240, 360, 975, 285},
    {"txtSockport", Kind::TextBox, "", "grpLocal", 1320, 360, 1215, 400},
    {"grpFTP", Kind::Group, "FTP Params", nullptr, 3240, 120, 4815, 2055},
    {"lblFtpUrl", Kind::Label, "URL:", "grpFTP", 360, 360, 975, 285},
    {"lblFtpUsername", Kind::Label, "Username:", "grpFTP", 360, 840, 975, 285},
    {"lblFtpPassword", Kind::Label, "Password:", "grpFTP", 360, 1320, 975, 285},
    {"txtFtpUrl", Kind::TextBox, "", "grpFTP", 1440, 360, 3135, 400},
    {"txtFtpUsername", Kind::TextBox, "", "grpFTP", 1440, 840, 1815, 400},
    {"txtFtpPassword", Kind::PasswordBox, "", "grpFTP", 1440, 1320, 1815, 400},
    {"grpQP6100", Kind::Group, "QP6100 Params", nullptr, 120, 1200, 2895, 975},
    {"chkQP6100Device", Kind::CheckBox, "Device?", "grpQP6100", 360, 360, 1095, 375},
    {"grp1000SE", Kind::Group, "Verifone 1000 SE Params", nullptr, 120, 2280, 7935, 1935},
    {"lbl1000SEComPort", Kind::Label, "Comm Port:", "grp1000SE", 240, 840, 975, 285},
    {"lbl1000SEBaudRate", Kind::Label, "Baud Rate:", "grp1000SE", 240, 1320, 975, 285},
    {"lbl1000SEParity", Kind::Label, "Parity:", "grp1000SE", 3720, 360, 975, 285},
    {"txt1000SEParity", Kind::TextBox, "", "grp1000SE", 4800, 360, 1215, 400},
    {"lbl1000SEDataBits", Kind::Label, "Data Bits:", "grp1000SE", 3720, 840, 975, 285},
    {"txt1000SEDataBits", Kind::TextBox, "", "grp1000SE", 4800, 840, 1215, 400},
    {"lbl1000SEEncryption", Kind::Label, "Encryption:", "grp1000SE", 3720, 1320, 975, 285},
    {"txt1000SEEncryption", Kind::TextBox, "", "grp1000SE", 4800, 1320, 1215, 400},
    {"chk1000SEDevice", Kind::CheckBox, "Device?", "grp1000SE", 480, 360, 1095, 375},
    {"cbo1000SECommPort", Kind::DropDown, "", "grp1000SE", 1320, 840, 735, 315},
    {"cbo1000SEBaudRate", Kind::DropDown, "", "grp1000SE", 1320, 1320, 1215, 315},
};

// The text fields and lists, each with the model's field it shows.
struct FieldBinding
{
    const char* control;
    QString (LiveSettings::*field)() const;
    void (LiveSettings::*setField)(const QString&);
};

const FieldBinding kFields[] = {
    {"txtSockport", &LiveSettings::txtSockport, &LiveSettings::setTxtSockport},
    {"txtFtpUrl", &LiveSettings::txtFtpUrl, &LiveSettings::setTxtFtpUrl},
    {"txtFtpUsername", &LiveSettings::txtFtpUsername, &LiveSettings::setTxtFtpUsername},
    {"txtFtpPassword", &LiveSettings::txtFtpPassword, &LiveSettings::setTxtFtpPassword},
    {"cbo1000SECommPort", &LiveSettings::cbo1000SECommPort, &LiveSettings::setCbo1000SECommPort},
    {"cbo1000SEBaudRate", &LiveSettings::cbo1000SEBaudRate, &LiveSettings::setCbo1000SEBaudRate},
    {"txt1000SEParity", &LiveSettings::txt1000SEParity, &LiveSettings::setTxt1000SEParity},
    {"txt1000SEDataBits", &LiveSettings::txt1000SEDataBits, &LiveSettings::setTxt1000SEDataBits},
    {"txt1000SEEncryption", &LiveSettings::txt1000SEEncryption,
     &LiveSettings::setTxt1000SEEncryption},
};

// The five fields that accept input only while the 1000SE box is ticked.
const char* const k1000SEFields[] = {"cbo1000SECommPort", "cbo1000SEBaudRate", "txt1000SEParity",
                                     "txt1000SEDataBits", "txt1000SEEncryption"};

const char* const kBaudRates[] = {"75",    "110",   "134",   "150",   "300",    "600",
                                  "1200",  "1800",  "2400",  "4800",  "7200",   "9600",
                                  "14400", "19200", "38400", "57600", "115200", "128000"};

QWidget* createControl(const ControlDesign& design, QWidget* parent, const QFont& fieldFont)
{
    const QString caption = QLatin1String(design.caption);
    QWidget* control = nullptr;
    switch (design.kind) {
    case Kind::Group: {
        auto* group = new QGroupBox(caption, parent);
        QFont bold = fieldFont;
        bold.setBold(true);
        group->setFont(bold);
        control = group;
        break;
    }
    case Kind::Label:
        control = new QLabel(caption, parent);
        break;
    case Kind::TextBox:
        control = new QLineEdit(parent);
        break;
    case Kind::PasswordBox: {
        auto* password = new QLineEdit(parent);
        password->setEchoMode(QLineEdit::Password);
        // Every character shows as "*", whatever the style's own mask character.
        password->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
        control = password;
        break;
    }
    case Kind::CheckBox:
        control = new QCheckBox(caption, parent);
        break;
    case Kind::DropDown: {
        auto* list = new QComboBox(parent);
        // Typed text that is not in the list is kept as the field's text, not added to it.
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
        control = list;
        break;
    }
    }
    control->setObjectName(QLatin1String(design.name));
    // Group captions are bold; their contents are not.
    if (design.kind != Kind::Group)
        control->setFont(fieldFont);
    control->setGeometry(SettingsForm::pixels(design.left), SettingsForm::pixels(design.top),
                         SettingsForm::pixels(design.width), SettingsForm::pixels(design.height));
    return control;
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
    // "MS Sans Serif" 8.25 point is 11 pixels on a 96 dots-per-inch screen.
    // Every attribute is set, so that nothing of a group's bold caption font is inherited.
    QFont fieldFont(font().family());
    fieldFont.setPixelSize(11);
    fieldFont.setBold(false);
    fieldFont.setItalic(false);
    // Created in tab order, which makes the keyboard order the design's.
    QWidget* previousField = nullptr;
    for (const ControlDesign& design : kControls) {
        QWidget* parent = design.parent ? findChild<QWidget*>(QLatin1String(design.parent)) : this;
        QWidget* control = createControl(design, parent, fieldFont);
        if (control->focusPolicy() & Qt::TabFocus) {
            if (previousField)
                setTabOrder(previousField, control);
            previousField = control;
        }
    }
    auto* baudRates = findChild<QComboBox*>(QStringLiteral("cbo1000SEBaudRate"));
    for (const char* rate : kBaudRates)
        baudRates->addItem(QLatin1String(rate));
    findChild<QComboBox*>(QStringLiteral("cbo1000SECommPort"))
        ->setToolTip(QStringLiteral("Choose Verifone 1000SE Comm Port"));
}

void SettingsForm::bindFields()
{
    for (const FieldBinding& binding : kFields) {
        const auto setField = binding.setField;
        const QString name = QLatin1String(binding.control);
        auto store = [this, setField](const QString& text) {
            if (!m_refreshing)
                (m_settings.*setField)(text);
        };
        if (auto* edit = findChild<QLineEdit*>(name))
            connect(edit, &QLineEdit::textEdited, this, store);
        else if (auto* list = findChild<QComboBox*>(name))
            connect(list, &QComboBox::editTextChanged, this, store);
    }
}

void SettingsForm::bindDeviceBoxes()
{
    auto* qp6100 = findChild<QCheckBox*>(QStringLiteral("chkQP6100Device"));
    connect(qp6100, &QCheckBox::clicked, this, [this](bool ticked) {
        m_settings.setChkQP6100Device(ticked ? LiveSettings::Ticked : LiveSettings::Unticked);
    });
    auto* pinPad = findChild<QCheckBox*>(QStringLiteral("chk1000SEDevice"));
    connect(pinPad, &QCheckBox::clicked, this, [this](bool ticked) {
        m_settings.setChk1000SEDevice(ticked ? LiveSettings::Ticked : LiveSettings::Unticked);
    });
}

void SettingsForm::refresh()
{
    const QScopedValueRollback<bool> refreshing(m_refreshing, true);
    auto* commPorts = findChild<QComboBox*>(QStringLiteral("cbo1000SECommPort"));
    QStringList listed;
    for (int i = 0; i < commPorts->count(); ++i)
        listed << commPorts->itemText(i);
    if (listed != m_settings.commPortList()) {
        commPorts->clear();
        commPorts->addItems(m_settings.commPortList());
    }
    for (const FieldBinding& binding : kFields) {
        const QString text = (m_settings.*binding.field)();
        const QString name = QLatin1String(binding.control);
        // Only a changed text is set, so that a field being typed in keeps its cursor. A text
        // set from here shows its beginning: a long URL is read from its scheme and host.
        if (auto* edit = findChild<QLineEdit*>(name); edit && edit->text() != text) {
            edit->setText(text);
            edit->setCursorPosition(0);
        } else if (auto* list = findChild<QComboBox*>(name); list && list->currentText() != text) {
            list->setEditText(text);
            if (list->lineEdit())
                list->lineEdit()->setCursorPosition(0);
        }
    }
    auto showState = [this](const char* name, int state) {
        auto* box = findChild<QCheckBox*>(QLatin1String(name));
        box->setTristate(state == LiveSettings::Greyed);
        box->setCheckState(state == LiveSettings::Ticked   ? Qt::Checked
                           : state == LiveSettings::Greyed ? Qt::PartiallyChecked
                                                           : Qt::Unchecked);
    };
    showState("chkQP6100Device", m_settings.chkQP6100Device());
    showState("chk1000SEDevice", m_settings.chk1000SEDevice());
    for (const char* name : k1000SEFields)
        findChild<QWidget*>(QLatin1String(name))->setEnabled(m_settings.fields1000SEEnabled());
}
