// SPDX-License-Identifier: MIT
// Measures how long a program takes from its start to its first frame on
// screen: the time until the middle of its window stops being black. Prints
// the median over the runs, in milliseconds, and the median peak resident
// memory of the program once that frame is shown, in kB.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "xharness.h"

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: first_frame RUNS PROGRAM\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::vector<double> times;
    std::vector<long> peaks;
    for (int run = 0; run < runs; run++) {
        auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execv(argv[2], argv + 2);
            _exit(127);
        }
        double ms = -1;
        while (ms < 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
            const Window w = xt::findWindow("Morvo: quendal");
            if (w && xt::grab(w).at(200, 200).b > 0)
                ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                               start)
                         .count();
        }
        xt::pause(300);
        FILE *status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
        char line[256];
        while (status && std::fgets(line, sizeof line, status))
            if (std::strncmp(line, "VmHWM:", 6) == 0)
                peaks.push_back(std::atol(line + 6));
        if (status)
            std::fclose(status);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        while (xt::findWindow("Morvo: quendal"))
            xt::pause(10);
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::sort(peaks.begin(), peaks.end());
    std::printf("%.1f %ld\n", times[times.size() / 2],
                peaks.empty() ? -1L : peaks[peaks.size() / 2]);
    return 0;
}
