// Planted where no program may load it from: loaded, it appends a line to $TW_PLANTED_MARKER.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

[[gnu::constructor]] static void planted() {
    const char* marker = std::getenv("TW_PLANTED_MARKER");
    const int fd = marker ? ::open(marker, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t n = ::write(fd, "loaded\n", 7);
    ::close(fd);
}
