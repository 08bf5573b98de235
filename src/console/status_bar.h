// The window's status bar: a row of fixed-width text panels addressed by index from 0. Each
// panel is a QLabel child named "Panel<i>", so tests and outside checks can read it by name.
#pragma once

#include <QStatusBar>
#include <QString>
#include <initializer_list>
#include <vector>

class QLabel;

namespace mbus::console {

class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    // One panel per width, in order.
    StatusBar(std::initializer_list<int> panelWidths, QWidget* parent);

    int PanelCount() const { return static_cast<int>(Panels_.size()); }
    QString PanelText(int index) const;
    // Sets the text of panel `index`; an index outside the bar changes nothing.
    void SetPanelText(int index, const QString& text);

private:
    std::vector<QLabel*> Panels_; // children of the bar
};

} // namespace mbus::console
