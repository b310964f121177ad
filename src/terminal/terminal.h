#pragma once
// What the progress displays share: where they may draw, how wide the line
// is, how a bar is filled and how text reaches the terminal. Drawing is a
// courtesy: nothing here fails or throws past its caller, and a broken
// terminal never stops the work being shown.

#include <cstdint>
#include <string>
#include <string_view>

namespace quelmar::terminal {

// The cells of a bar: done share, then the rest.
inline constexpr std::string_view kDoneCell = "█";
inline constexpr std::string_view kRestCell = "░";

bool is_terminal(int fd) noexcept;

// The width of the terminal on `fd` in columns; 80 when it cannot tell.
unsigned columns(int fd) noexcept;

// Writes all of `text`, resuming after signals; gives up silently on error.
void write_all(int fd, std::string_view text) noexcept;

// The done cells of a bar `width` cells wide at `done` of `total` (total > 0;
// done is capped at total). Exact in integers for any counts.
std::uint64_t filled_cells(std::uint64_t done, std::uint64_t total, std::uint64_t width) noexcept;

// Appends `filled` done cells, then rest cells up to `width`.
void append_bar(std::string& line, std::uint64_t filled, std::uint64_t width);

}  // namespace quelmar::terminal
