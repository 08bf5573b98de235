// The window's status bar: a row of fixed-width text panels addressed by index from 0, and after
// them a one-line message that takes the rest of the width (empty and invisible until set). Each
// panel is a QLabel child named "Panel<i>", the message one named "Message", so tests and outside
// checks can read them by name.
#pragma once

#include <QColor>
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
    // Sets the text of panel `index`; an index outside the bar changes nothing. A panel keeps
    // its width, and widens for a text that does not fit it.
    void SetPanelText(int index, const QString& text);
    // The colour of panel `index`'s text.
    void SetPanelColor(int index, const QColor& color);

    QString Message() const;
    // Shows `text` after the panels, with `toolTip` for more (the whole text where it is cut).
    void SetMessage(const QString& text, const QString& toolTip = QString());

private:
    std::vector<QLabel*> Panels_; // children of the bar
    std::vector<int> Widths_;     // the panels' own widths
    QLabel* Message_;             // child of the bar
};

} // namespace mbus::console
