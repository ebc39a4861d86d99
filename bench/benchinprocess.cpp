// In-process figures, each measured beside its floor in the same run (repetitions interleaved by
// the script): one Ok of the main dialog against plainly replacing the files it writes, listing the
// systems of a root against find(1) and against a bare readdir and stat loop, and loading a
// workstation list against a bare DOM parse.
#include "bareloop.h"
#include "benchtree.h"
#include "browseWorkstations.h"
#include "set_system.h"
#include "trox_inst_envDialog.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Enough iterations per repetition that a small size is not all timer noise.
int iterationsFor(int size)
{
    return qMax(1, 20000 / size);
}

// --- apply -----------------------------------------------------------------------------------

// A scratch machine for the main dialog: machine files under a prefix, a home of its own, a bus
// address that leads nowhere, and the six values the load reads.
class ApplySandbox
{
public:
    explicit ApplySandbox(const QString &base)
        : m_base(base)
    {
        QDir dir;
        dir.mkpath(m_base + QLatin1String("/prefix"));
        dir.mkpath(m_base + QLatin1String("/home/.config"));
        dir.mkpath(m_base + QLatin1String("/systems/alpha/config/system"));
        dir.mkpath(newRoot() + QLatin1String("/beta/config/system"));
        qputenv("TROX_INST_ENV_PREFIX", QFile::encodeName(m_base + QLatin1String("/prefix")));
        qputenv("HOME", QFile::encodeName(m_base + QLatin1String("/home")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_base + QLatin1String("/home/.config")));
        qunsetenv("XDG_CONFIG_DIRS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_base) + "/no-bus");
        const Values &first = values(0);
        qputenv("OV_ROOT", QFile::encodeName(first.root));
        qputenv("OV_SYSTEM", first.system.toUtf8());
        qputenv("OV_SERVER_ROOT", first.server.toUtf8());
        qputenv("OV_RESERVE_SERVER_ROOT", first.reserveServer.toUtf8());
        qputenv("OV_WORKSTATION", first.workstation.toUtf8());
        qputenv("OV_DEVELOPER", first.developer ? "true" : "false");
    }

    // The load shows what is stored, which is what the last Ok wrote. So Oks take turns between
    // two sets of values that differ in all six, starting from the first as inherited.
    struct Values
    {
        QString root;
        QString system;
        QString server;
        QString reserveServer;
        QString workstation;
        bool developer;
    };
    const Values &values(int which) const { return m_values[which]; }
    // The set shown by a loaded dialog, or -1 while the load has not run.
    int shownValues(const QString &shownRoot) const
    {
        return shownRoot == m_values[0].root ? 0 : shownRoot == m_values[1].root ? 1 : -1;
    }

    QString loadedRoot() const { return m_base + QLatin1String("/systems"); }
    QString newRoot() const { return m_base + QLatin1String("/systems-new"); }

    // Every file one Ok leaves behind: machine and user files, and the system's profile file.
    QList<BenchTree::FileImage> writtenFiles() const
    {
        QList<BenchTree::FileImage> files = BenchTree::filesBelow(m_base + QLatin1String("/prefix"));
        files += BenchTree::filesBelow(m_base + QLatin1String("/home"));
        files += BenchTree::filesBelow(newRoot());
        return files;
    }

private:
    QString m_base;
    const Values m_values[2] = {{loadedRoot(), QStringLiteral("alpha"), QStringLiteral("/srv/trox/systems"),
                                 QStringLiteral("/srv/trox-reserve/systems"), QStringLiteral("12"), false},
                                {newRoot(), QStringLiteral("beta"), QStringLiteral("/srv/trox-b/systems"),
                                 QStringLiteral("/srv/trox-b-reserve/systems"), QStringLiteral("34"), true}};
};

struct ApplyOutcome
{
    double seconds = 0;       // the whole accept()
    double noticeSeconds = 0; // of which the restart notice: built, shown, answered, gone
    bool accepted = false;
    int notices = 0;    // restart notices answered
    int otherBoxes = 0; // any other message box: a failed write
};

// The restart notice exactly as Ok shows it. Its cost, the toolkit building and laying out a
// rich-text box, is measured alone on the same dialog just before each Ok and taken out of it.
const QString restartNotice = QStringLiteral("<p><b>Important</b></p><p>You need to restart applications for "
                                             "this change to take effect, including all TROX applications "
                                             "and Visual Studio.</p>");

// Two names for the same call, so that a profiler can collect the measured Oks apart from the
// first one: valgrind --tool=callgrind --toggle-collect='*measuredAccept*'.
[[gnu::noinline]] void measuredAccept(QDialog &dialog)
{
    dialog.accept();
}

[[gnu::noinline]] void firstAccept(QDialog &dialog)
{
    dialog.accept();
}

// Everything up to the moment of Ok, as an operator would get there: the dialog shown, loaded and
// painted, the labels edited and repainted, and the restart notice built once on its own (its time
// is taken out of Ok's). Then `finish` runs and is timed: Ok itself, or the floor's plain writes.
// Both sides start from this same point because a disk flush here costs several times more after
// a few milliseconds without I/O than straight after another flush (5 files: 0.9 ms back to back,
// 3.7 ms after 10 ms of computing, 6.4 ms after 10 ms asleep), so a floor run in a tight loop
// would be measured on a warmer disk than any Ok ever gets.
template <typename Finish> ApplyOutcome afterPreparation(const ApplySandbox &sandbox, Finish finish)
{
    ApplyOutcome outcome;
    trox_inst_envDialog dialog(nullptr, nullptr, true);
    dialog.show();
    QElapsedTimer waited;
    waited.start();
    while (sandbox.shownValues(dialog.root->text()) < 0 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const int shown = sandbox.shownValues(dialog.root->text());
    if (shown < 0)
        return outcome;

    const ApplySandbox::Values &edited = sandbox.values(1 - shown);
    dialog.root->setText(edited.root);
    dialog.system->setText(edited.system);
    dialog.server->setText(edited.server);
    dialog.reserveserver->setText(edited.reserveServer);
    dialog.workstation->setText(edited.workstation);
    dialog.developer->setChecked(edited.developer);
    // The edits happened in editors long before Ok: their repaint is not part of it.
    QCoreApplication::processEvents();

    QTimer answerer;
    answerer.setInterval(0);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box->windowTitle() == QLatin1String("Information"))
            ++outcome.notices;
        else
            ++outcome.otherBoxes;
        box->done(QMessageBox::Ok);
    });
    answerer.start();

    const Clock::time_point noticeStart = Clock::now();
    QMessageBox::critical(&dialog, QStringLiteral("Information"), restartNotice);
    outcome.noticeSeconds = secondsSince(noticeStart);
    outcome.notices = 0;

    const Clock::time_point start = Clock::now();
    outcome.accepted = finish(dialog);
    outcome.seconds = secondsSince(start);
    answerer.stop();
    return outcome;
}

// One Ok with all six values changed, with the restart notice answered as soon as it is on screen.
ApplyOutcome applyOnce(const ApplySandbox &sandbox, bool measured = true)
{
    return afterPreparation(sandbox, [measured](QDialog &dialog) {
        if (measured)
            measuredAccept(dialog);
        else
            firstAccept(dialog);
        return dialog.result() == QDialog::Accepted;
    });
}

// The figure is Ok without the restart notice, whose time is the toolkit building a rich-text box
// and the operator reading it; the notice's own time is kept beside it as a counter.
void benchApply(benchmark::State &state, const ApplySandbox *sandbox)
{
    double noticeSeconds = 0;
    for (auto _ : state) {
        const ApplyOutcome outcome = applyOnce(*sandbox);
        if (!outcome.accepted || outcome.notices != 1 || outcome.otherBoxes != 0) {
            state.SkipWithError("Ok did not write everything and close with one restart notice");
            break;
        }
        state.SetIterationTime(outcome.seconds - outcome.noticeSeconds);
        noticeSeconds += outcome.noticeSeconds;
    }
    state.counters["notice_ms"] = benchmark::Counter(noticeSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

// The same files replaced plainly from the same point; the dialog goes without Ok, untimed.
void benchApplyFloor(benchmark::State &state, const ApplySandbox *sandbox,
                     const QList<BenchTree::FileImage> *files)
{
    for (auto _ : state) {
        const ApplyOutcome outcome = afterPreparation(*sandbox, [files](QDialog &) {
            bool ok = true;
            for (const BenchTree::FileImage &file : *files)
                ok = BenchTree::replaceDurably(file) && ok;
            return ok;
        });
        if (!outcome.accepted) {
            state.SkipWithError("the dialog did not load, or the files could not be replaced");
            break;
        }
        state.SetIterationTime(outcome.seconds);
    }
    state.counters["files"] = double(files->size());
}

// --- systems ---------------------------------------------------------------------------------

void benchListSystems(benchmark::State &state, const QString &root, int size)
{
    for (auto _ : state) {
        set_system chooser;
        const Clock::time_point start = Clock::now();
        chooser.listSystems(root);
        const double seconds = secondsSince(start);
        if (chooser.available->count() != size / 2) {
            state.SkipWithError("listSystems found the wrong number of systems");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["entries"] = size;
}

void benchListSystemsLoop(benchmark::State &state, const QString &root, int size)
{
    const QByteArray path = QFile::encodeName(root);
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const int systems = bareSystemsLoop(path.constData());
        const double seconds = secondsSince(start);
        if (systems != size / 2) {
            state.SkipWithError("the bare loop found the wrong number of systems");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["entries"] = size;
}

// Runs a command with its output discarded and returns its wall time, or a negative number when it
// did not run or failed.
double runProcess(const QList<QByteArray> &arguments)
{
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    const double seconds = secondsSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

void benchListSystemsFloor(benchmark::State &state, const QString &root, int size)
{
    const QList<QByteArray> command{
        "find", QFile::encodeName(root), "-mindepth", "2", "-maxdepth", "2", "-name", "config", "-type", "d"};
    for (auto _ : state) {
        const double seconds = runProcess(command);
        if (seconds < 0) {
            state.SkipWithError("find failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["entries"] = size;
}

// --- workstations ----------------------------------------------------------------------------

void benchLoadWorkstations(benchmark::State &state, const QString &system, int size)
{
    for (auto _ : state) {
        browseWorkstations browser;
        const Clock::time_point start = Clock::now();
        browser.loadWorkstations(system);
        const double seconds = secondsSince(start);
        if (browser.workstations->count() != size) {
            state.SkipWithError("loadWorkstations listed the wrong number of workstations");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["entries"] = size;
}

void benchLoadWorkstationsFloor(benchmark::State &state, const QString &system, int size)
{
    const QString path = system + QLatin1String("/config/workstations.xml");
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        bool parsed = false;
        {
            // The document is released inside the timing, as loadWorkstations releases its own.
            QFile file(path);
            QDomDocument document;
            parsed = file.open(QIODevice::ReadOnly) && document.setContent(&file, false);
            benchmark::DoNotOptimize(document);
        }
        const double seconds = secondsSince(start);
        if (!parsed) {
            state.SkipWithError("the workstation list did not parse");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["entries"] = size;
}

// --- set-up ----------------------------------------------------------------------------------

struct Options
{
    QString workDirectory;
    QList<int> sizes{1000, 10000, 100000};
    bool smoke = false;
};

// Takes this program's own options out of argv, leaving Google Benchmark's.
Options takeOptions(int &argc, char **argv)
{
    Options options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument.startsWith("--workdir=")) {
            options.workDirectory = QFile::decodeName(argument.mid(10));
        } else if (argument.startsWith("--sizes=")) {
            options.sizes.clear();
            for (const QByteArray &size : argument.mid(8).split(','))
                options.sizes.append(size.toInt());
        } else if (argument == "--smoke") {
            options.smoke = true;
            options.sizes = {100};
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return options;
}

template <typename Function, typename... Arguments>
void add(const std::string &name, int iterations, Function function, Arguments... arguments)
{
    benchmark::RegisterBenchmark(name.c_str(), function, arguments...)
        ->Iterations(iterations)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Options options = takeOptions(argc, argv);

    std::unique_ptr<QTemporaryDir> ownDirectory;
    if (options.workDirectory.isEmpty()) {
        ownDirectory = std::make_unique<QTemporaryDir>();
        options.workDirectory = ownDirectory->path();
    }

    // The sandbox's variables must be in place before the application reads its environment.
    const ApplySandbox sandbox(options.workDirectory + QLatin1String("/apply"));
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // A first Ok outside the figures: it creates the files the floor then replaces, and pays the
    // once-per-process costs (fonts, styles, icons) that every later Ok of the run is spared.
    const ApplyOutcome first = applyOnce(sandbox, false);
    if (!first.accepted || first.notices != 1 || first.otherBoxes != 0) {
        std::fprintf(stderr,
                     "the first Ok did not write everything (accepted %d, notices %d, other boxes %d)\n",
                     int(first.accepted), first.notices, first.otherBoxes);
        return 1;
    }
    const QList<BenchTree::FileImage> written = sandbox.writtenFiles();
    std::fprintf(stderr, "Ok writes %d files:", int(written.size()));
    for (const BenchTree::FileImage &file : written)
        std::fprintf(stderr, " %s", qPrintable(QDir(options.workDirectory).relativeFilePath(file.path)));
    std::fprintf(stderr, "\n");

    const int applyIterations = options.smoke ? 1 : 3;
    add("P2_apply", applyIterations, benchApply, &sandbox);
    add("P2_floor", applyIterations, benchApplyFloor, &sandbox, &written);

    for (const int size : std::as_const(options.sizes)) {
        std::fprintf(stderr, "generating %d systems and %d workstations...\n", size, size);
        const QString root = BenchTree::makeSystemsRoot(options.workDirectory, size);
        const QString system = BenchTree::makeWorkstationList(options.workDirectory, size);
        if (root.isEmpty() || system.isEmpty()) {
            std::fprintf(stderr, "could not generate the inputs in %s\n", qPrintable(options.workDirectory));
            return 1;
        }
        const int iterations = options.smoke ? 1 : iterationsFor(size);
        const std::string suffix = '_' + std::to_string(size);
        add("P3_subject" + suffix, iterations, benchListSystems, root, size);
        add("P3_floor" + suffix, iterations, benchListSystemsFloor, root, size);
        add("P3_loop" + suffix, iterations, benchListSystemsLoop, root, size);
        add("P4_subject" + suffix, iterations, benchLoadWorkstations, system, size);
        add("P4_floor" + suffix, iterations, benchLoadWorkstationsFloor, system, size);
    }

    // Up to 100 000 directories were just made; written back to disk while the figures run, they
    // would slow every flush of the Oks and of their floor, the Oks more (they change more of the
    // file system per file). Flushed here, no figure pays for the making of the inputs.
    ::sync();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
