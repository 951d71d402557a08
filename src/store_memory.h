// Memory for a genotype store (-G) or matrix (-P): zeroed pages from the
// system, asked for as large pages. Each line read writes one cell into every
// row, rows far apart, and small pages would make each of those writes a
// page-table walk.
#pragma once

#include <cstddef>

#include <sys/mman.h>

class store_memory {
 public:
  store_memory() = default;
  ~store_memory() {
    if (data_) munmap(data_, size_);
  }
  store_memory(const store_memory&) = delete;
  store_memory& operator=(const store_memory&) = delete;

  // False when the system has no room for size bytes.
  bool allocate(size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    madvise(p, size, MADV_HUGEPAGE);  // a hint: without it the store still works
    data_ = static_cast<char*>(p);
    size_ = size;
    return true;
  }
  char* get() const { return data_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
};
