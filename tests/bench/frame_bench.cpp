// SPDX-License-Identifier: MIT
// Times the viewer's own frame against a bare clear-and-swap frame in the
// same process and run, counts heap allocations per frame, and watches the
// resident memory across many frames. Runs on whatever DISPLAY names.
#include <GL/freeglut.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "surface.h"
#include "viewer.h"
#include "walk.h"

// Every allocation in the process goes through these, GL's and GLU's too;
// `live` counts the blocks not yet freed.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
void *__libc_memalign(size_t, size_t);
static unsigned long allocations;
static long live;
void *malloc(size_t n)
{
    allocations++;
    void *p = __libc_malloc(n);
    live += p != nullptr;
    return p;
}
void *calloc(size_t n, size_t size)
{
    allocations++;
    void *p = __libc_calloc(n, size);
    live += p != nullptr;
    return p;
}
void *realloc(void *old, size_t n)
{
    allocations++;
    void *p = __libc_realloc(old, n);
    live += (old == nullptr && p != nullptr) - (old != nullptr && n == 0);
    return p;
}
void *memalign(size_t alignment, size_t n)
{
    allocations++;
    void *p = __libc_memalign(alignment, n);
    live += p != nullptr;
    return p;
}
void *aligned_alloc(size_t alignment, size_t n) { return memalign(alignment, n); }
int posix_memalign(void **out, size_t alignment, size_t n)
{
    *out = memalign(alignment, n);
    return *out ? 0 : 12;  // ENOMEM
}
void free(void *p)
{
    live -= p != nullptr;
    __libc_free(p);
}
}

// GLU tessellates and draws the surface inside gluEndSurface; this stand-in
// times it and hands over to the real one.
static double tessellationMs;
extern "C" void gluEndSurface(GLUnurbs *nurb)
{
    using Real = void (*)(GLUnurbs *);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "gluEndSurface"));
    auto start = std::chrono::steady_clock::now();
    real(nurb);
    tessellationMs +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

namespace {

long statusKb(const char *field)
{
    FILE *f = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            kb = std::atol(line + std::strlen(field) + 1);
    if (f)
        std::fclose(f);
    return kb;
}

void bareFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutSwapBuffers();
}

double frameMs(void (*frame)())
{
    auto start = std::chrono::steady_clock::now();
    frame();
    glFinish();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    const int samples = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int soak = argc > 2 ? std::atoi(argv[2]) : 10000;
    // "quick", for runs under callgrind, skips the near views and the walk;
    // a size such as 1920x1080 opens the window that large instead of 400 x 400.
    bool quick = false;
    int width = 400, height = 400;
    for (int i = 3; i < argc; i++)
        if (std::strcmp(argv[i], "quick") == 0)
            quick = true;
        else
            std::sscanf(argv[i], "%dx%d", &width, &height);

    // The viewer's own start-up, less the event loop.
    glutInit(&argc, argv);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(width, height);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("Morvo: quendal");
    initSurfaceModel();
    glutDisplayFunc(displayScene);
    glutReshapeFunc(reshapeView);
    initMenuAndState();
    for (int i = 0; i < 20; i++)
        glutMainLoopEvent();
    reshapeView(width, height);

    for (int i = 0; i < 100; i++)
        frameMs(displayScene);

    // Interleaved, so that both kinds of frame see the same machine.
    std::vector<double> scene, bare;
    unsigned long sceneAllocations = 0, bareAllocations = 0;
    tessellationMs = 0;
    double sceneTotalMs = 0;
    for (int i = 0; i < samples; i++) {
        const unsigned long before = allocations;
        scene.push_back(frameMs(displayScene));
        sceneTotalMs += scene.back();
        sceneAllocations += allocations - before;
        const unsigned long beforeBare = allocations;
        bare.push_back(frameMs(bareFrame));
        bareAllocations += allocations - beforeBare;
    }
    const double glShare = tessellationMs / sceneTotalMs;

    // The same frame with the surface off: the viewer's own code and the
    // immediate-mode axes, points and mesh, without GLU.
    showSurface = 0;
    showMesh = showPoints = 1;
    unsigned long unsurfacedAllocations = 0;
    for (int i = 0; i < samples; i++) {
        const unsigned long before = allocations;
        frameMs(displayScene);
        unsurfacedAllocations += allocations - before;
    }
    showSurface = 1;
    showMesh = showPoints = 0;

    const long liveBefore = live;
    const long rssBefore = statusKb("VmRSS:");
    for (int i = 0; i < soak / 2; i++)
        frameMs(displayScene);
    const long rssHalfway = statusKb("VmRSS:");
    for (int i = soak / 2; i < soak; i++)
        frameMs(displayScene);
    const long rssAfter = statusKb("VmRSS:");
    const long liveAfter = live;

    // Nearer views make GLU cut the surface finer.
    struct Near {
        float distance;
        double ms, gluShare;
    };
    std::vector<Near> byDistance;
    for (float d : {40.0f, 20.0f, 10.0f, 5.0f, 0.0f, -5.0f}) {
        if (quick)
            break;
        viewDistance = d;
        std::vector<double> ms;
        tessellationMs = 0;
        for (int i = 0; i < 5; i++)
            ms.push_back(frameMs(displayScene));
        double sum = 0;
        for (double m : ms)
            sum += m;
        byDistance.push_back({d, median(ms), tessellationMs / sum});
    }
    viewDistance = 40.0f;

    // The slowest frame over a walk of reachable views, each the median of
    // three, against the initial view's frame.
    double slowestMs = 0;
    WalkState slowest = {};
    std::vector<WalkState> walk;
    if (!quick)
        walk = walkStates(300);
    for (const WalkState &s : walk) {
        walkTo(s);
        std::vector<double> ms;
        for (int i = 0; i < 3; i++)
            ms.push_back(frameMs(displayScene));
        if (median(ms) > slowestMs) {
            slowestMs = median(ms);
            slowest = s;
        }
    }
    const long rssAfterWalk = statusKb("VmRSS:");

    std::printf("window %dx%d\n", width, height);
    std::printf("frame_ms_median %.4f\n", median(scene));
    std::printf("bare_frame_ms_median %.4f\n", median(bare));
    std::printf("frame_ratio %.2f\n", median(scene) / median(bare));
    std::printf("share_of_frame_in_gluEndSurface %.2f\n", glShare);
    std::printf("allocations_per_frame %.1f\n", double(sceneAllocations) / samples);
    std::printf("allocations_per_bare_frame %.1f\n", double(bareAllocations) / samples);
    std::printf("allocations_per_frame_without_surface %.1f\n",
                double(unsurfacedAllocations) / samples);
    for (const Near &n : byDistance)
        std::printf("frame_ms_at_distance_%g %.2f (%.0f%% in gluEndSurface)\n", double(n.distance),
                    n.ms, 100 * n.gluShare);
    std::printf("walk_views %zu\n", walk.size());
    std::printf("walk_slowest_frame_ms %.2f (distance %d, angles %d %d %d)\n", slowestMs,
                slowest.distance, slowest.rx, slowest.ry, slowest.rz);
    std::printf("walk_slowest_to_initial_frame_ratio %.1f\n", slowestMs / median(scene));
    std::printf("rss_kb_after_walk %ld\n", rssAfterWalk);
    std::printf("rss_kb_before_soak %ld\n", rssBefore);
    std::printf("rss_kb_halfway %ld\n", rssHalfway);
    std::printf("rss_kb_after_soak %ld\n", rssAfter);
    std::printf("rss_growth_kb_over_%d_frames %ld\n", soak, rssAfter - rssBefore);
    std::printf("live_blocks_growth_over_%d_frames %ld\n", soak, liveAfter - liveBefore);
    std::printf("peak_rss_kb %ld\n", statusKb("VmHWM:"));
    return 0;
}
