#include "src/terminal/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quelmar::terminal {
namespace {

constexpr unsigned kFallbackColumns = 80;

}  // namespace

bool is_terminal(int fd) noexcept { return ::isatty(fd) == 1; }

unsigned columns(int fd) noexcept {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return kFallbackColumns;
}

void write_all(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // a broken terminal must not break the work it shows
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::uint64_t filled_cells(std::uint64_t done, std::uint64_t total, std::uint64_t width) noexcept {
    // done * width may not fit 64 bits.
    const std::uint64_t shown = std::min(done, total);
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(shown) * width) / total);
}

void append_bar(std::string& line, std::uint64_t filled, std::uint64_t width) {
    line.reserve(line.size() + width * kDoneCell.size());
    for (std::uint64_t i = 0; i < filled; ++i) line += kDoneCell;
    for (std::uint64_t i = filled; i < width; ++i) line += kRestCell;
}

}  // namespace quelmar::terminal
