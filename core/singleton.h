// Releasing a program singleton in tests and benchmarks (the box never stops them): its
// threads are stopped, then the object goes with what it holds, so that the next pInstance()
// starts afresh on the box selected then, as a new process would.
#pragma once

template <class T>
void release_singleton(T*& instance) {
    T* const self = instance;
    if (!self) return;
    self->stop();
    instance = nullptr;
    delete self;
}
