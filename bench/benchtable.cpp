// Turns the raw figures of one benchmark run into the one table: each figure's median and spread
// beside its floor's, and their ratio against the target. Exits 1 when a target is missed.
//
// Usage: bench_table [--processes runs.txt] [--inprocess benchmark.json] [--login runs.txt]
//   runs.txt        bench_processes output: lines "round name wall_ms peak_rss_kb", sides "start",
//                   "form", "empty", "core" and, when the command line was built, "cli"
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
// A figure by round of the interleaved process runs.
using Rounds = QMap<int, double>;

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

    // Whole processes run in rounds, one of each side per round: the ratio is the median of the
    // rounds' ratios, so that each figure is set against the floor run next to it. A target of 0
    // shows the row without judging it.
    void compareRounds(const QString &name, const Rounds &measured, const Rounds &floor, const char *unit,
                       double target)
    {
        Samples ratios;
        for (auto it = measured.constBegin(); it != measured.constEnd(); ++it) {
            if (floor.value(it.key()) > 0)
                ratios << it.value() / floor.value(it.key());
        }
        if (ratios.isEmpty()) {
            missed = missed || target > 0;
            rows << QStringLiteral("| %1 | no figures | no figures | | ≤ %2× | MISSED |")
                        .arg(name)
                        .arg(target);
            return;
        }
        const QString measuredText = figure(measured.values(), 1, unit);
        const QString floorText = figure(floor.values(), 1, unit);
        if (target > 0) {
            add(name, measuredText, floorText, median(ratios), target);
            return;
        }
        rows << QStringLiteral("| %1 | %2 | %3 | %4× | (shown only) | |")
                    .arg(name, measuredText, floorText)
                    .arg(median(ratios), 0, 'f', 2);
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

    if (inputs.contains(QStringLiteral("--processes"))) {
        QMap<QString, Rounds> wall;
        QMap<QString, Rounds> rss;
        QFile file(inputs.value(QStringLiteral("--processes")));
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            while (!file.atEnd()) {
                const QList<QByteArray> fields = file.readLine().simplified().split(' ');
                if (fields.size() != 4)
                    continue;
                const QString side = QString::fromLatin1(fields.at(1));
                wall[side].insert(fields.at(0).toInt(), fields.at(2).toDouble());
                rss[side].insert(fields.at(0).toInt(), fields.at(3).toDouble() / 1024);
            }
        }
        const QString start = QStringLiteral("start");
        const QString form = QStringLiteral("form");
        const QString empty = QStringLiteral("empty");
        table.compareRounds(QStringLiteral("P1 start vs the form alone, wall time"), wall.value(start),
                            wall.value(form), "ms", 1.10);
        table.compareRounds(QStringLiteral("P1 start vs an empty dialog, wall time"), wall.value(start),
                            wall.value(empty), "ms", 0);
        table.compareRounds(QStringLiteral("P1 start vs an empty dialog, peak RSS"), rss.value(start),
                            rss.value(empty), "MiB", 1.30);
        table.compareRounds(QStringLiteral("P1 the form alone vs an empty dialog, wall time"),
                            wall.value(form), wall.value(empty), "ms", 0);
        const QString cli = QStringLiteral("cli");
        const QString core = QStringLiteral("core");
        if (wall.contains(cli))
            table.compareRounds(QStringLiteral("CLI show vs a bare QCoreApplication, wall time"),
                                wall.value(cli), wall.value(core), "ms", 1.5);
        else
            table.rows << QStringLiteral(
                "| CLI show vs a bare QCoreApplication, wall time | not built | | | ≤ 1.50× | skipped |");
    }

    if (inputs.contains(QStringLiteral("--login"))) {
        QMap<QString, Rounds> wall;
        QFile file(inputs.value(QStringLiteral("--login")));
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            while (!file.atEnd()) {
                const QList<QByteArray> fields = file.readLine().simplified().split(' ');
                if (fields.size() == 4)
                    wall[QString::fromLatin1(fields.at(1))].insert(fields.at(0).toInt(),
                                                                   fields.at(2).toDouble());
            }
        }
        const QString shell = QStringLiteral("shell");
        table.compareRounds(QStringLiteral("Login shell with the profile script (both files) vs without"),
                            wall.value(QStringLiteral("script")), wall.value(shell), "ms", 1.3);
        // Linear reading: per round, the script's own time per KiB at 512 KiB against that at 64 KiB.
        Rounds perKiBBig, perKiBMid;
        const Rounds &base = wall[shell];
        for (auto it = base.constBegin(); it != base.constEnd(); ++it) {
            perKiBBig.insert(it.key(),
                             (wall[QStringLiteral("scriptbig")].value(it.key()) - it.value()) / 512);
            perKiBMid.insert(it.key(), (wall[QStringLiteral("scriptmid")].value(it.key()) - it.value()) / 64);
        }
        table.compareRounds(
            QStringLiteral("Profile script's cost per KiB of machine file, 512 KiB vs 64 KiB"), perKiBBig,
            perKiBMid, "ms", 1.3);
        table.compareRounds(
            QStringLiteral("Login shell with the profile script on the machine's real folders vs without"),
            wall.value(QStringLiteral("generator")), wall.value(shell), "ms", 0);
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
                const auto perEntry = [&](const char *side, int size) {
                    return median(runs.value(QStringLiteral("%1_%2_%3")
                                                 .arg(QLatin1String(f.key), QLatin1String(side))
                                                 .arg(size))) /
                           size;
                };
                const double perSmall = perEntry("subject", small);
                const double perLarge = perEntry("subject", large);
                // The listing grows no faster per directory than the bare loop over the same trees.
                const double loopGrowth = perEntry("loop", large) / perEntry("loop", small);
                if (loopGrowth > 0) {
                    table.add(QStringLiteral("%1, growth per entry %2 vs %3, against the bare loop's")
                                  .arg(QLatin1String(f.title))
                                  .arg(large)
                                  .arg(small),
                              QStringLiteral("%1×").arg(perLarge / perSmall, 0, 'f', 2),
                              QStringLiteral("%1×").arg(loopGrowth, 0, 'f', 2),
                              perLarge / perSmall / loopGrowth, 1.0);
                    continue;
                }
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
