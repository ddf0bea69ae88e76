#pragma once
// Scratch buffers and plan caches are kept per thread, so two threads may build tables at once
// without a lock. The WebAssembly build has one thread and no runtime support for per-thread
// destructors, so there a plain static serves.
#if defined(__wasm__)
#define QUILLORY_PER_THREAD static
#else
#define QUILLORY_PER_THREAD thread_local
#endif
