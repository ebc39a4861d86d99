// Turns the raw figures of one benchmark run into the one table: each figure's median and spread
// beside its floor's, and their ratio against the target. Exits 1 when a target is missed.
//
// Usage: bench_table [--start hyperfine.json] [--rss rss.txt] [--inprocess benchmark.json]
//   hyperfine.json  hyperfine --export-json with the commands named "start" and "floor"
//   rss.txt         lines "start KB" / "floor KB", one per run (peak resident set, from time(1))
//   benchmark.json  bench_inprocess --benchmark_format=json with repetitions
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

using Samples = QList<double>;

double quantile(Samples samples, double q)
{
    if (samples.isEmpty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const double position = q * double(samples.size() - 1);
    const qsizetype below = qsizetype(position);
    const qsizetype above = qMin(below + 1, samples.size() - 1);
    return samples.at(below) + (samples.at(above) - samples.at(below)) * (position - double(below));
}

double median(const Samples &samples)
{
    return quantile(samples, 0.5);
}

// Interquartile range as a share of the median: how much the runs disagree.
double spread(const Samples &samples)
{
    const double middle = median(samples);
    return middle > 0 ? (quantile(samples, 0.75) - quantile(samples, 0.25)) / middle : 0;
}

QString figure(const Samples &samples, double scale, const char *unit)
{
    return QStringLiteral("%1 %2 ±%3% (n=%4)")
        .arg(median(samples) * scale, 0, 'f', median(samples) * scale < 10 ? 3 : 1)
        .arg(QLatin1String(unit))
        .arg(spread(samples) * 50, 0, 'f', 1)
        .arg(samples.size());
}

QJsonObject readJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

struct Table
{
    QStringList rows;
    bool missed = false;

    void add(const QString &name, const QString &measured, const QString &floor, double ratio, double target)
    {
        const bool met = ratio > 0 && ratio <= target;
        missed = missed || !met;
        rows << QStringLiteral("| %1 | %2 | %3 | %4× | ≤ %5× | %6 |")
                    .arg(name, measured, floor)
                    .arg(ratio, 0, 'f', 2)
                    .arg(target, 0, 'f', 2)
                    .arg(met ? QStringLiteral("ok") : QStringLiteral("MISSED"));
    }

    void compare(const QString &name, const Samples &measured, const Samples &floor, double scale,
                 const char *unit, double target)
    {
        if (measured.isEmpty() || floor.isEmpty()) {
            missed = true;
            rows << QStringLiteral("| %1 | no figures | no figures | | ≤ %2× | MISSED |")
                        .arg(name)
                        .arg(target);
            return;
        }
        add(name, figure(measured, scale, unit), figure(floor, scale, unit), median(measured) / median(floor),
            target);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QMap<QString, QString> inputs;
    const QStringList arguments = application.arguments();
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2)
        inputs.insert(arguments.at(i), arguments.at(i + 1));

    Table table;

    if (inputs.contains(QStringLiteral("--start"))) {
        QMap<QString, Samples> wall;
        const QJsonArray results =
            readJson(inputs.value(QStringLiteral("--start"))).value(QLatin1String("results")).toArray();
        for (const QJsonValue &result : results) {
            Samples &samples = wall[result.toObject().value(QLatin1String("command")).toString()];
            for (const QJsonValue &time : result.toObject().value(QLatin1String("times")).toArray())
                samples << time.toDouble();
        }
        table.compare(QStringLiteral("P1 start, wall time"), wall.value(QStringLiteral("start")),
                      wall.value(QStringLiteral("floor")), 1e3, "ms", 1.25);
    }

    if (inputs.contains(QStringLiteral("--rss"))) {
        QMap<QString, Samples> rss;
        QFile file(inputs.value(QStringLiteral("--rss")));
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            while (!file.atEnd()) {
                const QList<QByteArray> fields = file.readLine().simplified().split(' ');
                if (fields.size() == 2)
                    rss[QString::fromLatin1(fields.at(0))] << fields.at(1).toDouble();
            }
        }
        table.compare(QStringLiteral("P1 start, peak RSS"), rss.value(QStringLiteral("start")),
                      rss.value(QStringLiteral("floor")), 1.0 / 1024, "MiB", 1.25);
    }

    if (inputs.contains(QStringLiteral("--inprocess"))) {
        // Per repetition, the mean time of one iteration in milliseconds, by "P3_subject_1000" etc.
        QMap<QString, Samples> runs;
        const QJsonArray benchmarks = readJson(inputs.value(QStringLiteral("--inprocess")))
                                          .value(QLatin1String("benchmarks"))
                                          .toArray();
        for (const QJsonValue &value : benchmarks) {
            const QJsonObject run = value.toObject();
            if (run.value(QLatin1String("run_type")).toString() != QLatin1String("iteration") ||
                run.contains(QLatin1String("error_occurred")))
                continue;
            const QString name = run.value(QLatin1String("name")).toString().section(QLatin1Char('/'), 0, 0);
            double time = run.value(QLatin1String("real_time")).toDouble();
            const QString unit = run.value(QLatin1String("time_unit")).toString();
            if (unit == QLatin1String("us"))
                time /= 1e3;
            else if (unit == QLatin1String("ns"))
                time /= 1e6;
            else if (unit == QLatin1String("s"))
                time *= 1e3;
            runs[name] << time;
            if (run.contains(QLatin1String("notice_ms")))
                runs[name + QLatin1String("_whole")]
                    << time + run.value(QLatin1String("notice_ms")).toDouble();
        }

        table.compare(QStringLiteral("P2 apply (one Ok, six values)"), runs.value(QStringLiteral("P2_apply")),
                      runs.value(QStringLiteral("P2_floor")), 1, "ms", 2.0);
        const Samples whole = runs.value(QStringLiteral("P2_apply_whole"));
        const Samples floor = runs.value(QStringLiteral("P2_floor"));
        if (!whole.isEmpty() && !floor.isEmpty())
            table.rows << QStringLiteral(
                              "| P2 whole Ok, restart notice kept in | %1 | %2 | %3× | (shown only) | |")
                              .arg(figure(whole, 1, "ms"), figure(floor, 1, "ms"))
                              .arg(median(whole) / median(floor), 0, 'f', 2);

        QList<int> sizes;
        static const QRegularExpression sized(QStringLiteral("^P3_subject_(\\d+)$"));
        for (auto it = runs.constBegin(); it != runs.constEnd(); ++it) {
            const QRegularExpressionMatch match = sized.match(it.key());
            if (match.hasMatch())
                sizes << match.captured(1).toInt();
        }
        std::sort(sizes.begin(), sizes.end());

        const struct
        {
            const char *key;
            const char *title;
            const char *what;
        } figures[] = {{"P3", "P3 systems", "dirs"}, {"P4", "P4 workstations", "entries"}};
        for (const auto &f : figures) {
            for (const int size : std::as_const(sizes)) {
                const QString suffix = QLatin1Char('_') + QString::number(size);
                table.compare(QStringLiteral("%1, %2 %3")
                                  .arg(QLatin1String(f.title))
                                  .arg(size)
                                  .arg(QLatin1String(f.what)),
                              runs.value(QLatin1String(f.key) + QLatin1String("_subject") + suffix),
                              runs.value(QLatin1String(f.key) + QLatin1String("_floor") + suffix), 1, "ms",
                              1.5);
            }
            if (sizes.size() >= 2) {
                const int small = sizes.first();
                const int large = sizes.last();
                const double perSmall =
                    median(runs.value(QStringLiteral("%1_subject_%2").arg(QLatin1String(f.key)).arg(small))) /
                    small;
                const double perLarge =
                    median(runs.value(QStringLiteral("%1_subject_%2").arg(QLatin1String(f.key)).arg(large))) /
                    large;
                table.add(QStringLiteral("%1, cost per entry at %2 vs %3")
                              .arg(QLatin1String(f.title))
                              .arg(large)
                              .arg(small),
                          QStringLiteral("%1 µs").arg(perLarge * 1e3, 0, 'f', 3),
                          QStringLiteral("%1 µs").arg(perSmall * 1e3, 0, 'f', 3), perLarge / perSmall, 1.3);
            }
        }
    }

    QTextStream out(stdout);
    out << "| Figure | Measured: median ± half IQR | Floor, same run | Ratio | Target | |\n";
    out << "|---|---|---|---|---|---|\n";
    for (const QString &row : std::as_const(table.rows))
        out << row << '\n';
    out.flush();
    return table.missed ? 1 : 0;
}
