// Process and thread attach/detach on Linux.
//
// Process exit versus unload: at attach a process-wide exit handler is registered whose code
// lives in the C library and whose state lives on the heap, so it survives an unload of the
// plug-in. It runs at exit before the plug-in's static destructors (it is registered after
// them), marking the process as terminating.
#include "platform/ModuleEntry.h"

#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/mman.h>

#include <atomic>

extern "C" int __cxa_atexit(void (*func)(void *), void *arg, void *dso);

namespace Platform {

namespace {

ModuleEntryFunction gEntry = nullptr;
pthread_key_t gThreadKey;
std::atomic<bool> gThreadKeyValid{false};
sem_t *gExitMarker = nullptr;

void ThreadEnded(void *) {
    if (gEntry != nullptr)
        gEntry(ModuleReason::ThreadDetach, false);
}

// A semaphore on a page of its own that an exit handler posts: posted means the process is
// exiting. Kept on purpose (a page outside the heap): the C library's exit list keeps pointing at
// it after an unload, and its handler is the C library's own function, so nothing of the plug-in
// is called after it is gone. No lock: however many copies were loaded, the exiting thread holds
// none of them (a race detector counts the locks a thread holds).
sem_t *RegisterExitHandlerMark() {
    void *page = mmap(nullptr, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        return nullptr;
    auto *mark = static_cast<sem_t *>(page);
    sem_init(mark, 0, 0);
    // The owner handle is the page itself: not null, since a null handle makes ThreadSanitizer's
    // exit list call the handler without its argument, and no object's, so no unload runs it.
    __cxa_atexit(reinterpret_cast<void (*)(void *)>(reinterpret_cast<void (*)()>(&sem_post)), mark, page);
    return mark;
}

bool MarkIsSet(sem_t *mark) {
    int value = 0;
    return mark != nullptr && sem_getvalue(mark, &value) == 0 && value > 0;
}

} // namespace

ModuleExitMarker::ModuleExitMarker() {
    gExitMarker = RegisterExitHandlerMark();
}

namespace {
bool ProcessIsTerminating() {
    return MarkIsSet(gExitMarker);
}
} // namespace

ModuleEntry::ModuleEntry(ModuleEntryFunction entry) : mEntry(entry) {
    gEntry = entry;
    if (pthread_key_create(&gThreadKey, &ThreadEnded) == 0)
        gThreadKeyValid = true;
    if (mEntry != nullptr)
        mEntry(ModuleReason::ProcessAttach, false);
}

ModuleEntry::~ModuleEntry() {
    bool terminating = ProcessIsTerminating();
    if (gThreadKeyValid.exchange(false))
        pthread_key_delete(gThreadKey);
    if (mEntry != nullptr)
        mEntry(ModuleReason::ProcessDetach, terminating);
    gEntry = nullptr;
}

void ModuleEntry::EnterThread() {
    if (!gThreadKeyValid || pthread_getspecific(gThreadKey) != nullptr)
        return;
    static char marker;
    pthread_setspecific(gThreadKey, &marker);
    if (gEntry != nullptr)
        gEntry(ModuleReason::ThreadAttach, false);
}

void PinWindowingLibraries() {
    static const char *const libraries[] = {"libwx_baseu-3.2.so.0",
                                            "libwx_baseu_net-3.2.so.0",
                                            "libwx_baseu_xml-3.2.so.0",
                                            "libwx_gtk3u_core-3.2.so.0",
                                            "libwx_gtk3u_xrc-3.2.so.0",
                                            "libwx_gtk3u_html-3.2.so.0",
                                            "libwx_gtk3u_adv-3.2.so.0",
                                            "libgtk-3.so.0",
                                            "libgdk-3.so.0",
                                            "libgobject-2.0.so.0",
                                            "libglib-2.0.so.0",
                                            "libgio-2.0.so.0",
                                            "libpango-1.0.so.0",
                                            "libatk-1.0.so.0",
                                            "libcairo.so.2"};
    for (const char *name : libraries) {
        // The handle is kept on purpose: RTLD_NODELETE pins the library for the process's life.
        dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE | RTLD_GLOBAL);
    }
}

} // namespace Platform
