// The trend plot of the readings window: one numeric field of one meter over time, drawn from
// the logged rows and extended live as rows arrive (during timed sending, every reply adds a
// point). Values that are not decimal digits (a meter's non-BCD bytes) are left out.
#pragma once

#include <QString>
#include <QtCharts/QChartView>

#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace mbus::console {

struct LoggedReading;

class ReadingsTrend : public QChartView {
    Q_OBJECT
public:
    explicit ReadingsTrend(QWidget* parent = nullptr);

    // Plots the field labelled `label` (without colon) of the meter `address` (14 digits as
    // typed) from `rows`.
    void Show(const QString& label, const QString& address, const std::vector<LoggedReading>& rows);
    // Adds the point of `reading` when it is of the plotted meter and has the field.
    void Append(const LoggedReading& reading);

    // The points plotted: milliseconds since the epoch and the value.
    QList<QPointF> Points() const;
    // What is plotted.
    const QString& Label() const { return Label_; }
    const QString& Address() const { return Address_; }

private:
    void FitAxes();

    QString Label_;
    QString Address_;
    QLineSeries* Series_;
    QDateTimeAxis* TimeAxis_;
    QValueAxis* ValueAxis_;
};

} // namespace mbus::console
