// The window's image list: small images addressed by index, as buttons show them. Image 0 is the
// About sign of the tool bar, image 6 gears with a pause sign (port open) and image 7 gears with
// a start arrow (port closed); the other slots are empty.
#pragma once

#include <QIcon>
#include <QObject>
#include <QSize>
#include <vector>

namespace mbus::console {

class ImageList : public QObject {
    Q_OBJECT
public:
    explicit ImageList(QObject* parent = nullptr);

    QSize ImageSize() const { return {18, 18}; }
    int Count() const { return static_cast<int>(Images_.size()); }
    // The image at `index`; an empty icon outside the list.
    QIcon Image(int index) const;

private:
    std::vector<QIcon> Images_;
};

// An icon drawn from an SVG resource at `size` (and twice that for dense screens).
QIcon SvgIcon(const QString& resource, QSize size);

} // namespace mbus::console
