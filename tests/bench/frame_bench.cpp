// SPDX-License-Identifier: MIT
// Times the viewer's own frame against a bare clear-and-swap frame in the
// same process and run, counts heap allocations per frame, and watches the
// resident memory across many frames. Over a walk of views it counts the
// points GLU evaluates, and sets the busiest far views against a minimal
// program that makes the same calls without culling. Runs on whatever
// DISPLAY names.
#include <GL/freeglut.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net.h"
#include "unculled.h"
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

// GLU evaluates every point it draws through one of these two; the stand-ins
// count them and hand over.
static long evaluatedPoints;
extern "C" void glEvalCoord2f(GLfloat u, GLfloat v)
{
    using Real = void (*)(GLfloat, GLfloat);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "glEvalCoord2f"));
    evaluatedPoints++;
    real(u, v);
}
extern "C" void glEvalMesh2(GLenum mode, GLint i1, GLint i2, GLint j1, GLint j2)
{
    using Real = void (*)(GLenum, GLint, GLint, GLint, GLint);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "glEvalMesh2"));
    evaluatedPoints += long(i2 - i1 + 1) * (j2 - j1 + 1);
    real(mode, i1, i2, j1, j2);
}

// The renderer the last surface was drawn with.
static GLUnurbs *lastRenderer;
extern "C" void gluBeginSurface(GLUnurbs *nurb)
{
    using Real = void (*)(GLUnurbs *);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "gluBeginSurface"));
    lastRenderer = nurb;
    real(nurb);
}

// While captureFrames is set, each frame is read back whole just before its
// swap, outside the timed frames only.
static bool captureFrames;
static std::vector<unsigned char> capturedFrame;
extern "C" void glutSwapBuffers()
{
    using Real = void (*)();
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "glutSwapBuffers"));
    if (captureFrames) {
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        capturedFrame.resize(size_t(viewport[2]) * viewport[3] * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, viewport[2], viewport[3], GL_RGB, GL_UNSIGNED_BYTE,
                     capturedFrame.data());
    }
    real();
}

namespace {

// The frame of a minimal program: the viewer's calls in the viewer's order,
// drawn with GLU's path-length sampling and no culling.
GLUnurbs *unculledRenderer;
void unculledFrame()
{
    drawUnculledScene(unculledRenderer);
    glFlush();
    glutSwapBuffers();
}

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

// The points a frame evaluates, and the frame itself, read back.
long capturedPoints(void (*frame)(), std::vector<unsigned char> &picture)
{
    evaluatedPoints = 0;
    captureFrames = true;
    frameMs(frame);
    captureFrames = false;
    picture = capturedFrame;
    return evaluatedPoints;
}

// Medians of frames strictly alternating between the viewer and the minimal
// program, at the given view.
struct Alternating {
    double ms, unculledMs;
};

Alternating alternatingFrames(const WalkState &s)
{
    const int pairs = 61;
    walkTo(s);
    std::vector<double> viewer, unculled;
    for (int i = 0; i < pairs; i++) {
        viewer.push_back(frameMs(displayScene));
        unculled.push_back(frameMs(unculledFrame));
    }
    return {median(viewer), median(unculled)};
}

struct ViewPoints {
    WalkState view;
    long points, unculledPoints;
};

void printView(const char *name, const WalkState &s, long points)
{
    std::printf("%s %ld (distance %d, angles %d %d %d)\n", name, points, s.distance, s.rx, s.ry,
                s.rz);
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
    unculledRenderer = newUnculledRenderer();
    // The initial view is far: the renderer it draws with is the far one.
    std::vector<unsigned char> picture, unculledPicture;
    const WalkState firstView = {int(viewDistance), int(rotationX), int(rotationY), int(rotationZ)};
    const long firstViewPoints = capturedPoints(displayScene, picture);
    GLUnurbs *const farRenderer = lastRenderer;

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

    // Nearer views make GLU cut the surface finer. The distances take turns,
    // frame by frame, so that each sees the same machine.
    struct Near {
        float distance;
        std::vector<double> ms;
        double totalMs, gluMs;
    };
    std::vector<Near> byDistance;
    for (float d : {40.0f, 20.0f, 10.0f, 5.0f, 0.0f, -5.0f})
        if (!quick)
            byDistance.push_back({d, {}, 0, 0});
    for (int round = 0; round < 41; round++)
        for (Near &n : byDistance) {
            viewDistance = n.distance;
            tessellationMs = 0;
            n.ms.push_back(frameMs(displayScene));
            n.totalMs += n.ms.back();
            n.gluMs += tessellationMs;
        }
    viewDistance = 40.0f;

    // The slowest frame over a walk of reachable views, each the median of
    // three, against the initial view's frame. Each far view is also drawn
    // by the minimal program, its points counted and its picture compared.
    double slowestMs = 0;
    WalkState slowest = {};
    std::vector<WalkState> walk;
    if (!quick)
        walk = walkStates(300);
    std::vector<ViewPoints> farViews;
    ViewPoints busiestNear = {};
    long differingFarViews = 0;
    for (const WalkState &s : walk) {
        walkTo(s);
        std::vector<double> ms;
        for (int i = 0; i < 3; i++)
            ms.push_back(frameMs(displayScene));
        if (median(ms) > slowestMs) {
            slowestMs = median(ms);
            slowest = s;
        }
        const long points = capturedPoints(displayScene, picture);
        if (lastRenderer != farRenderer) {
            if (points > busiestNear.points)
                busiestNear = {s, points, 0};
            continue;
        }
        farViews.push_back({s, points, capturedPoints(unculledFrame, unculledPicture)});
        differingFarViews += differingPixels(picture, unculledPicture) > 0;
    }
    const long rssAfterWalk = statusKb("VmRSS:");

    // The far views where the minimal program evaluates the most points, each
    // timed in frames strictly alternating between the viewer and it.
    const size_t busiestCount = std::min<size_t>(3, farViews.size());
    std::partial_sort(farViews.begin(), farViews.begin() + busiestCount, farViews.end(),
                      [](const ViewPoints &a, const ViewPoints &b) {
                          return a.unculledPoints > b.unculledPoints;
                      });
    std::vector<Alternating> busiestMs;
    for (size_t k = 0; k < busiestCount; k++)
        busiestMs.push_back(alternatingFrames(farViews[k].view));
    // The initial view again, where culling has next to nothing to skip.
    Alternating firstViewMs = {};
    long firstViewUnculledPoints = 0;
    if (!walk.empty()) {
        firstViewMs = alternatingFrames(firstView);
        firstViewUnculledPoints = capturedPoints(unculledFrame, unculledPicture);
    }
    ViewPoints busiestFar = {};
    for (const ViewPoints &v : farViews)
        if (v.points > busiestFar.points)
            busiestFar = v;

    std::printf("window %dx%d\n", width, height);
    std::printf("gl_renderer %s\n", reinterpret_cast<const char *>(glGetString(GL_RENDERER)));
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
                    median(n.ms), 100 * n.gluMs / n.totalMs);
    std::printf("walk_views %zu\n", walk.size());
    std::printf("walk_slowest_frame_ms %.2f (distance %d, angles %d %d %d)\n", slowestMs,
                slowest.distance, slowest.rx, slowest.ry, slowest.rz);
    std::printf("walk_slowest_to_initial_frame_ratio %.1f\n", slowestMs / median(scene));
    printView("points_first_view", firstView, firstViewPoints);
    if (!walk.empty()) {
        printView("points_busiest_far_view", busiestFar.view, busiestFar.points);
        printView("points_busiest_near_view", busiestNear.view, busiestNear.points);
        std::printf("far_views %zu\n", farViews.size());
        std::printf("far_views_differing_from_unculled %ld\n", differingFarViews);
        std::printf("first_view_unculled_points %ld\n", firstViewUnculledPoints);
        std::printf("first_view_frame_ms %.2f\n", firstViewMs.ms);
        std::printf("first_view_unculled_frame_ms %.2f\n", firstViewMs.unculledMs);
        std::printf("first_view_frame_ratio %.2f\n", firstViewMs.ms / firstViewMs.unculledMs);
    }
    double worstRatio = 0;
    for (size_t k = 0; k < busiestCount; k++) {
        const ViewPoints &v = farViews[k];
        const double ratio = busiestMs[k].ms / busiestMs[k].unculledMs;
        worstRatio = std::max(worstRatio, ratio);
        char name[64];
        std::snprintf(name, sizeof name, "busiest_far_view_%zu_points", k + 1);
        printView(name, v.view, v.points);
        std::printf("busiest_far_view_%zu_unculled_points %ld\n", k + 1, v.unculledPoints);
        std::printf("busiest_far_view_%zu_frame_ms %.2f\n", k + 1, busiestMs[k].ms);
        std::printf("busiest_far_view_%zu_unculled_frame_ms %.2f\n", k + 1,
                    busiestMs[k].unculledMs);
        std::printf("busiest_far_view_%zu_frame_ratio %.2f\n", k + 1, ratio);
    }
    if (busiestCount > 0)
        std::printf("busiest_far_views_worst_frame_ratio %.2f\n", worstRatio);
    std::printf("rss_kb_after_walk %ld\n", rssAfterWalk);
    std::printf("rss_kb_before_soak %ld\n", rssBefore);
    std::printf("rss_kb_halfway %ld\n", rssHalfway);
    std::printf("rss_kb_after_soak %ld\n", rssAfter);
    std::printf("rss_growth_kb_over_%d_frames %ld\n", soak, rssAfter - rssBefore);
    std::printf("live_blocks_growth_over_%d_frames %ld\n", soak, liveAfter - liveBefore);
    std::printf("peak_rss_kb %ld\n", statusKb("VmHWM:"));
    return 0;
}
