// Fails allocations on request, for tests of a run that runs out of memory.
// Preloaded into the tool only (LD_PRELOAD). TREVLIN_FAIL_ALLOC=N fails the
// N-th allocation counted (from 1); with TREVLIN_FAIL_ALLOC_ALL=1 every one
// after it fails too, as when memory has truly run out. TREVLIN_FAIL_ALLOC=0
// fails none and prints the count to standard error at the end.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);

static long fail_at = -1;  // -1: not asked, count nothing
static int fail_all = 0;
static long counted = 0;

__attribute__((constructor)) static void set_up(void) {
  const char* at = getenv("TREVLIN_FAIL_ALLOC");
  const char* all = getenv("TREVLIN_FAIL_ALLOC_ALL");
  fail_all = all && *all == '1';
  if (at) fail_at = atol(at);
}

__attribute__((destructor)) static void report(void) {
  if (fail_at == 0) {
    char buf[64];
    int n = snprintf(buf, sizeof buf, "allocations: %ld\n", counted);
    if (write(2, buf, (size_t)n) < 0) {
    }
  }
}

static int fails(void) {
  if (fail_at < 0) return 0;
  ++counted;
  return fail_at > 0 && (counted == fail_at || (fail_all && counted > fail_at));
}

void* malloc(size_t size) {
  if (fails()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}

void* calloc(size_t n, size_t size) {
  if (fails()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_calloc(n, size);
}

void* realloc(void* p, size_t size) {
  if (fails()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_realloc(p, size);
}

int posix_memalign(void** out, size_t align, size_t size) {
  if (fails()) return ENOMEM;
  void* p = __libc_memalign(align, size);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}

void* aligned_alloc(size_t align, size_t size) {
  if (fails()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_memalign(align, size);
}
