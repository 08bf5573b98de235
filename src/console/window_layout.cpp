#include "console/window_layout.h"

#include "console/main_window.h"
#include "console/rich_text_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace mbus::console {
namespace {

class WindowLayout : public QObject {
public:
    explicit WindowLayout(TForm1& form) : QObject(&form), Form_(form), Designed_(form.size()) {
        for (QWidget* widget : Managed())
            Places_.insert(widget, widget->geometry());
        form.setMinimumSize(Designed_);
        form.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &Form_ && event->type() == QEvent::Resize)
            Apply();
        return false;
    }

private:
    using Widgets = std::initializer_list<QWidget*>;

    std::vector<QWidget*> Managed() const {
        const TForm1& f = Form_;
        return {
            f.sGroupBox1,    f.sGroupBox2,   f.edtCMD,        f.ckbAutoSend, f.edtAutoSendInteval,
            f.sLabel6,       f.btnSend,      f.redtComRechex, f.ckbLR,       f.btnSaveComRec,
            f.sButton1,      f.sGroupBox3,   f.redtDecode,    f.lblFrameGap, f.edtFrameGap,
            f.lblFrameGapMs, f.ckbLogToFile, f.ckbTimestamp};
    }

    // Puts `widget` at its designed place moved by (dx, dy) and grown by (dw, dh).
    void Place(QWidget* widget, int dx, int dy, int dw, int dh) const {
        const QRect designed = Places_.value(widget);
        widget->setGeometry(designed.x() + dx, designed.y() + dy, designed.width() + dw,
                            designed.height() + dh);
    }

    void Apply() const {
        const TForm1& f = Form_;
        const int wider = std::max(0, f.width() - Designed_.width());
        const int taller = std::max(0, f.height() - Designed_.height());
        const int trafficHeight = Places_.value(f.redtComRechex).height();
        const int decodeHeight = Places_.value(f.redtDecode).height();
        const int trafficTaller = taller * trafficHeight / (trafficHeight + decodeHeight);
        const int decodeTaller = taller - trafficTaller;

        Place(f.sGroupBox2, 0, 0, wider, trafficTaller);
        Place(f.edtCMD, 0, 0, wider, 0);
        for (QWidget* rightOfCommand :
             Widgets{f.ckbAutoSend, f.edtAutoSendInteval, f.sLabel6, f.btnSend})
            Place(rightOfCommand, wider, 0, 0, 0);
        Place(f.redtComRechex, 0, 0, wider, trafficTaller);
        for (QWidget* belowTraffic : Widgets{f.ckbLR, f.btnSaveComRec, f.sButton1})
            Place(belowTraffic, wider, trafficTaller, 0, 0);
        for (QWidget* belowTrafficLeft :
             Widgets{f.lblFrameGap, f.edtFrameGap, f.lblFrameGapMs, f.ckbLogToFile, f.ckbTimestamp})
            Place(belowTrafficLeft, 0, trafficTaller, 0, 0);

        Place(f.sGroupBox3, 0, trafficTaller, wider, decodeTaller);
        Place(f.redtDecode, 0, 0, wider, decodeTaller);
        Place(f.sGroupBox1, 0, trafficTaller, 0, 0);
    }

    TForm1& Form_;
    const QSize Designed_;
    QHash<QWidget*, QRect> Places_;
};

} // namespace

void InstallWindowLayout(TForm1& form) {
    new WindowLayout(form); // owned by the form through Qt's parent link
}

} // namespace mbus::console
