#include "serial_ui/com_select_form.h"

#include "serial/win32_dispatcher.h"
#include "util/integer_text.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace mbus::serial_ui {
namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 50;

// "COM" in front of the number: the number starts at the fourth character.
constexpr int kNumberStart = 3;
constexpr int kNumberLength = 255;

template <class Widget> Widget* Place(Widget* widget, const char* name, QRect geometry) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

// A label at its designed place that grows to show its whole text: the designed sizes fit the
// dialog's font, and a stand-in font on another system may need a few pixels more.
QLabel* PlaceLabel(QLabel* label, const char* name, QRect geometry) {
    geometry.setSize(geometry.size().expandedTo(label->sizeHint()));
    return Place(label, name, geometry);
}

// Where the dialog's font is missing, fonts of Arial's metrics come closest in width; the
// labels' texts would not fit the dialog in a wider one.
QFont DialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

} // namespace

TComSelectForm::TComSelectForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    CreateControls();
    FormCreate(this);
}

void TComSelectForm::CreateControls() {
    setObjectName(QStringLiteral("ComSelectForm"));
    setWindowTitle(QStringLiteral("Select Port"));
    setFont(DialogFont());
    QPalette textPalette = palette();
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        textPalette.setColor(role, Qt::black);
    setPalette(textPalette);

    const QSize clientSize(220, 131);
    setFixedSize(clientSize);
    if (const QScreen* display = screen())
        setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, clientSize, display->geometry()));

    // The bevel comes first so that the labels lie on top of it.
    Bevel1 = Place(new QFrame(this), "Bevel1", QRect(8, 8, 201, 42));
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Label1 =
        PlaceLabel(new QLabel(QStringLiteral("The configured serial port is not valid."), this),
                   "Label1", QRect(18, 14, 176, 13));
    Label2 = PlaceLabel(new QLabel(QStringLiteral("Please choose another port."), this), "Label2",
                        QRect(18, 30, 133, 13));

    PortsComboBox = Place(new QComboBox(this), "PortsComboBox", QRect(8, 64, 201, 21));
    PortsComboBox->setEditable(false);

    OkBtn = Place(new QPushButton(QStringLiteral("OK"), this), "OkBtn", QRect(8, 95, 85, 27));
    OkBtn->setDefault(true);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);

    AbortBtn =
        Place(new QPushButton(QStringLiteral("Cancel"), this), "AbortBtn", QRect(124, 95, 85, 27));
    connect(AbortBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TComSelectForm::FormCreate(QObject* /*Sender*/) {
    for (int number = kFirstPort; number <= kLastPort; ++number) {
        if (PortExists(number))
            PortsComboBox->addItem(QStringLiteral("COM%1").arg(number));
    }
    PortsComboBox->setCurrentIndex(0); // with no entries, nothing is selected
}

bool TComSelectForm::PortExists(int number) {
    if (number == 0)
        return false;
    const std::string name = QStringLiteral("\\\\.\\COM%1").arg(number).toStdString();
    serial::TWin32Dispatcher probe(nullptr);
    return probe.ProbeDevice(name);
}

std::optional<int> TComSelectForm::SelectedPort() const {
    // Nothing selected: the text is empty, which is no number.
    const QString number = PortsComboBox->currentText().mid(kNumberStart, kNumberLength);
    return util::TryStrToInt(number.toStdString());
}

} // namespace mbus::serial_ui
