#include "console/readings_trend.h"

#include "console/readings_log.h"

#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>

namespace mbus::console {

ReadingsTrend::ReadingsTrend(QWidget* parent)
    : QChartView(parent), Series_(new QLineSeries), TimeAxis_(new QDateTimeAxis),
      ValueAxis_(new QValueAxis) {
    setObjectName(QStringLiteral("chtTrend"));
    setRenderHint(QPainter::Antialiasing);
    auto* chart = new QChart;
    chart->legend()->setVisible(false);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->addSeries(Series_); // the chart owns the series and the axes
    TimeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    ValueAxis_->setLabelFormat(QStringLiteral("%.2f"));
    chart->addAxis(TimeAxis_, Qt::AlignBottom);
    chart->addAxis(ValueAxis_, Qt::AlignLeft);
    Series_->attachAxis(TimeAxis_);
    Series_->attachAxis(ValueAxis_);
    Series_->setPointsVisible(true);
    setChart(chart); // the view owns the chart
}

void ReadingsTrend::Show(const QString& label, const QString& address,
                         const std::vector<LoggedReading>& rows) {
    Label_ = label;
    Address_ = address;
    Series_->clear();
    ValueAxis_->setTitleText(QString());
    chart()->setTitle(label.isEmpty() ? QString() : label + QStringLiteral(" — ") + address);
    for (const LoggedReading& reading : rows)
        Append(reading);
    FitAxes();
}

void ReadingsTrend::Append(const LoggedReading& logged) {
    const auto& reading = logged.Row.Reply;
    if (!reading || !reading->Address ||
        QString::fromStdString(protocol::AddressText(*reading->Address)) != Address_)
        return;
    for (const protocol::FieldReading& field : reading->Fields) {
        if (QString::fromUtf8(field.Label.data(), qsizetype(field.Label.size())) != Label_)
            continue;
        bool number = false;
        const double value = QString::fromStdString(field.Value).toDouble(&number);
        if (!number)
            return;
        ValueAxis_->setTitleText(QString::fromStdString(field.Unit));
        Series_->append(double(logged.Time.toMSecsSinceEpoch()), value);
        FitAxes();
        return;
    }
}

QList<QPointF> ReadingsTrend::Points() const {
    return Series_->points();
}

void ReadingsTrend::FitAxes() {
    const QList<QPointF> points = Series_->points();
    if (points.isEmpty()) {
        const QDateTime now = QDateTime::currentDateTime();
        TimeAxis_->setRange(now.addSecs(-60), now);
        ValueAxis_->setRange(0, 1);
        return;
    }
    const auto [low, high] =
        std::minmax_element(points.begin(), points.end(),
                            [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
    // The labels show two decimals: a flat or nearly flat trend gets room for ticks that read
    // differently, and the ticks fall on round values.
    const double margin = std::max((high->y() - low->y()) * 0.1, 0.05);
    ValueAxis_->setRange(low->y() - margin, high->y() + margin);
    ValueAxis_->applyNiceNumbers();
    // Points are appended in time order; a lone point gets a second of room.
    const qint64 first = qint64(points.front().x());
    const qint64 last = std::max(qint64(points.back().x()), first + 1000);
    TimeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(first),
                        QDateTime::fromMSecsSinceEpoch(last));
    // Ticks less than a second apart show their milliseconds, so no two read the same.
    TimeAxis_->setFormat(last - first < 10'000 ? QStringLiteral("HH:mm:ss.zzz")
                                               : QStringLiteral("HH:mm:ss"));
}

} // namespace mbus::console
