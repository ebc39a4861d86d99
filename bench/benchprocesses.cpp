// Runs whole processes in interleaved rounds, each side once per round, and prints one line per run:
// "round name wall_ms peak_rss_kb". Taking turns makes a burst of load on the machine hit every side
// alike, where blocks of runs would hand it to one of them. The order is reversed every other round
// so that no side always follows the same one. Output of the processes is discarded.
//
// Usage: bench_processes ROUNDS WARMUP -- NAME PROGRAM [ARGUMENT...] [-- NAME PROGRAM ...]
// Exits 1 when a process cannot be started or does not exit with 0.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

struct Side
{
    std::string name;
    std::vector<char *> argv; // null-terminated, pointing into main's argv
};

struct Run
{
    double wallMs = 0;
    long peakKb = 0;
    bool ok = false;
};

double now()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return double(time.tv_sec) * 1e3 + double(time.tv_nsec) / 1e6;
}

Run runOnce(const Side &side)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    Run run;
    const double start = now();
    pid_t pid = 0;
    const int error = posix_spawn(&pid, side.argv.front(), &actions, nullptr, side.argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "%s: cannot start %s: %s\n", side.name.c_str(), side.argv.front(),
                     std::strerror(error));
        return run;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return run;
    }
    run.wallMs = now() - start;
    run.peakKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!run.ok)
        std::fprintf(stderr, "%s: %s did not exit with 0 (status %d)\n", side.name.c_str(), side.argv.front(),
                     status);
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
        std::fprintf(stderr, "usage: %s ROUNDS WARMUP -- NAME PROGRAM [ARGUMENT...] [-- NAME ...]\n",
                     argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    const int warmup = std::atoi(argv[2]);
    std::vector<Side> sides;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            if (i + 2 >= argc) {
                std::fprintf(stderr, "each side needs a name and a program\n");
                return 2;
            }
            sides.push_back({argv[i + 1], {}});
            ++i;
            continue;
        }
        sides.back().argv.push_back(argv[i]);
    }
    for (Side &side : sides)
        side.argv.push_back(nullptr);

    for (int round = -warmup; round < rounds; ++round) {
        const bool reversed = (round + warmup) % 2 == 1;
        for (std::size_t i = 0; i < sides.size(); ++i) {
            const Side &side = sides.at(reversed ? sides.size() - 1 - i : i);
            const Run run = runOnce(side);
            if (!run.ok)
                return 1;
            if (round >= 0)
                std::printf("%d %s %.3f %ld\n", round, side.name.c_str(), run.wallMs, run.peakKb);
        }
    }
    return 0;
}
