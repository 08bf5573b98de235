#include "console/status_bar.h"

#include <QLabel>

#include <algorithm>

namespace mbus::console {

StatusBar::StatusBar(std::initializer_list<int> panelWidths, QWidget* parent) : QStatusBar(parent) {
    for (const int width : panelWidths) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("Panel%1").arg(Panels_.size()));
        panel->setFixedWidth(width);
        Widths_.push_back(width);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        addWidget(panel);
        Panels_.push_back(panel);
    }
    Message_ = new QLabel(this);
    Message_->setObjectName(QStringLiteral("Message"));
    Message_->setTextFormat(Qt::PlainText);
    // A long message is cut at the bar's end rather than widening the bar.
    Message_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    addWidget(Message_, 1);
}

QString StatusBar::PanelText(int index) const {
    if (index < 0 || index >= PanelCount())
        return {};
    return Panels_[static_cast<std::size_t>(index)]->text();
}

void StatusBar::SetPanelText(int index, const QString& text) {
    if (index < 0 || index >= PanelCount())
        return;
    QLabel* panel = Panels_[static_cast<std::size_t>(index)];
    panel->setText(text);
    const int needed = panel->fontMetrics().horizontalAdvance(text) + 2 * panel->frameWidth() +
                       panel->fontMetrics().averageCharWidth();
    panel->setFixedWidth(std::max(Widths_[static_cast<std::size_t>(index)], needed));
}

void StatusBar::SetPanelColor(int index, const QColor& color) {
    if (index < 0 || index >= PanelCount())
        return;
    QLabel* panel = Panels_[static_cast<std::size_t>(index)];
    QPalette palette = panel->palette();
    palette.setColor(QPalette::WindowText, color);
    panel->setPalette(palette);
}

QString StatusBar::Message() const {
    return Message_->text();
}

void StatusBar::SetMessage(const QString& text, const QString& toolTip) {
    Message_->setText(text);
    Message_->setToolTip(toolTip.isEmpty() ? text : toolTip);
}

} // namespace mbus::console
