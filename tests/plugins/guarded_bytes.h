#pragma once
// Bytes that end where a page the process may not touch begins: reading one byte past them
// crashes, with or without the sanitizers. Linux (mmap).

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>

class GuardedBytes {
public:
    explicit GuardedBytes(size_t size) : size_(size) {
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        length_ = (size + page - 1) / page * page + page;
        void* base = ::mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
        base_ = static_cast<uint8_t*>(base);
        ::mprotect(base_ + length_ - page, page, PROT_NONE);
        data_ = base_ + length_ - page - size;
    }
    explicit GuardedBytes(std::span<const uint8_t> bytes) : GuardedBytes(bytes.size()) {
        std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~GuardedBytes() { ::munmap(base_, length_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    uint8_t* data() { return data_; }
    std::span<const uint8_t> span() const { return {data_, size_}; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t length_ = 0;
};
