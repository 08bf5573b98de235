#include "console/image_list.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace mbus::console {
namespace {

constexpr const char* kImageResources[] = {
    ":/console/artwork/about.svg",       "", "", "", "", "", ":/console/artwork/gears_pause.svg",
    ":/console/artwork/gears_start.svg",
};

} // namespace

ImageList::ImageList(QObject* parent) : QObject(parent) {
    for (const char* resource : kImageResources)
        Images_.push_back(*resource ? SvgIcon(QString::fromLatin1(resource), ImageSize())
                                    : QIcon());
}

QIcon ImageList::Image(int index) const {
    if (index < 0 || index >= Count())
        return {};
    return Images_[static_cast<std::size_t>(index)];
}

QIcon SvgIcon(const QString& resource, QSize size) {
    QSvgRenderer renderer(resource);
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace mbus::console
