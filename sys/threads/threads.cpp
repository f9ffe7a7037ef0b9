/*
 * Built-in thread table: std::thread underneath, and the switch that lets a test put its own
 * table in place.
 */
#include "sys/threads/threads.h"

#include <atomic>
#include <new>
#include <system_error>
#include <thread>

namespace sys {

struct SysThread {
    std::thread thread; /* joinable until joined or released */
};

namespace {

std::atomic<uint32_t> nextThreadId{1};
thread_local uint32_t ownThreadId = 0;

uint32_t defaultCurrentId()
{
    if (ownThreadId == 0)
        ownThreadId = nextThreadId.fetch_add(1);
    return ownThreadId;
}

int defaultStart(SysThreadMain main, void *arg, SysThread **thread, uint32_t *threadId)
{
    if (!thread)
        return kThreadError;
    *thread = nullptr;
    SysThread *handle = new (std::nothrow) SysThread;
    if (!handle)
        return kThreadError;
    const uint32_t id = nextThreadId.fetch_add(1);
    try {
        handle->thread = std::thread([main, arg, id] {
            ownThreadId = id;
            main(arg);
        });
    } catch (const std::system_error &) {
        delete handle;
        return kThreadError;
    }
    if (threadId)
        *threadId = id;
    *thread = handle;
    return kThreadOk;
}

int defaultJoin(SysThread *thread)
{
    if (!thread || !thread->thread.joinable())
        return kThreadError;
    try {
        thread->thread.join();
    } catch (const std::system_error &) {
        return kThreadError;
    }
    return kThreadOk;
}

int defaultRelease(SysThread *thread)
{
    if (!thread)
        return kThreadError;
    if (thread->thread.joinable())
        thread->thread.detach();
    delete thread;
    return kThreadOk;
}

const SysThreadMethods builtInMethods = {defaultStart, defaultJoin, defaultRelease, defaultCurrentId};
std::atomic<const SysThreadMethods *> methodsInEffect{&builtInMethods};

} // namespace

const SysThreadMethods *threadMethods() { return methodsInEffect.load(); }
const SysThreadMethods *defaultThreadMethods() { return &builtInMethods; }
void setThreadMethods(const SysThreadMethods *methods)
{
    methodsInEffect.store(methods ? methods : &builtInMethods);
}

} // namespace sys
