// TComSelectForm: the modal dialog in which the user picks a serial port when the port component
// is to open without a port number. It offers the ports COM1 to COM50 that exist on the machine;
// the port prompt (port_prompt_dialog.h) shows it and hands the choice to the component.
#pragma once

#include <QDialog>

#include <optional>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace mbus::serial_ui {

class TComSelectForm : public QDialog {
    Q_OBJECT
public:
    // Builds the dialog at its designed size, centred on the screen, and fills the port list
    // (FormCreate). OkBtn accepts, AbortBtn, Escape and the close button reject.
    explicit TComSelectForm(QWidget* parent = nullptr);

    // Whether serial port COM<number> exists. 0 never does. The device is not opened, so a port
    // that another program holds counts as existing.
    static bool PortExists(int number);

    // The number of the selected entry ("COM12" gives 12), or none when nothing is selected,
    // which happens only when no port exists.
    std::optional<int> SelectedPort() const;

    // Controls, owned by the dialog through Qt's parent links.
    QLabel* Label1;
    QLabel* Label2;
    QFrame* Bevel1;
    QComboBox* PortsComboBox;
    QPushButton* OkBtn;
    QPushButton* AbortBtn;

private:
    void CreateControls();
    // The creation handler: lists every existing port from COM1 to COM50 in order and selects
    // the first one.
    void FormCreate(QObject* Sender);
};

} // namespace mbus::serial_ui
