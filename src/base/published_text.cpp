#include "src/base/published_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "src/base/community_loader.h"
#include "src/base/graph_loader.h"
#include "src/base/line_tokenizer.h"
#include "src/base/path_extension.h"
#include "src/utils/gzip_source.h"

namespace quelmar::base {
namespace {

void commas_to_spaces(char* bytes, std::size_t size) {
    char* const end = bytes + size;
    if (size == 0) return;
    for (char* p = bytes; (p = static_cast<char*>(std::memchr(p, ',', end - p))); ++p) *p = ' ';
}

bool is_blank(unsigned char b) { return b == ' ' || b == '\t'; }

// The first line feed of [at, at + size), or null; `at` may be null when
// `size` is 0 (an empty vector's data).
const unsigned char* find_feed(const unsigned char* at, std::size_t size) {
    return size ? static_cast<const unsigned char*>(std::memchr(at, '\n', size)) : nullptr;
}

// A line of a comma-separated file that names its columns: none of its first
// two tokens is a number.
bool is_column_names(std::span<const unsigned char> line) {
    if (line.empty() || !std::memchr(line.data(), ',', line.size())) return false;
    std::string text(reinterpret_cast<const char*>(line.data()), line.size());
    commas_to_spaces(text.data(), text.size());
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    LineTokens tokens;
    if (!tokenize_line(begin, begin + text.size(), tokens) || tokens.count == 0) return false;
    return !tokens.first.valid() && (tokens.count < 2 || !tokens.second.valid());
}

}  // namespace

PublishedText::PublishedText(utils::ByteSource& file) : file_(file) {}

PublishedText::~PublishedText() = default;

runtime::Error PublishedText::in_file(runtime::Error error) const {
    if (!error.position()) return error;
    runtime::TextPosition position = *error.position();
    position.line += header_lines_;
    return std::move(error).at(std::move(position));
}

// Reads until the pending bytes hold a line feed, kHeaderLookahead bytes or
// the rest of the text.
runtime::Result<bool> PublishedText::look_ahead() {
    for (;;) {
        const std::size_t held = pending_.size() - pending_pos_;
        if (text_ended_ || held >= kHeaderLookahead ||
            find_feed(pending_.data() + pending_pos_, held)) {
            return true;
        }
        pending_.erase(pending_.begin(), pending_.begin() + pending_pos_);
        pending_pos_ = 0;
        pending_.resize(held + kHeaderLookahead);
        auto got = text_->read(reinterpret_cast<char*>(pending_.data() + held), kHeaderLookahead);
        if (!got) return std::move(got).error();
        pending_.resize(held + got.value());
        if (got.value() == 0) text_ended_ = true;
    }
}

// Drops the pending bytes and the text up to and with the next line feed.
runtime::Result<void> PublishedText::skip_rest_of_line() {
    for (;;) {
        const std::size_t held = pending_.size() - pending_pos_;
        const unsigned char* at = pending_.data() + pending_pos_;
        if (const unsigned char* feed = find_feed(at, held)) {
            pending_pos_ += feed - at + 1;
            return {};
        }
        if (text_ended_) {
            pending_pos_ = pending_.size();
            return {};
        }
        pending_.resize(kHeaderLookahead);
        pending_pos_ = 0;
        auto got = text_->read(reinterpret_cast<char*>(pending_.data()), kHeaderLookahead);
        if (!got) return std::move(got).error();
        pending_.resize(got.value());
        if (got.value() == 0) text_ended_ = true;
    }
}

runtime::Result<void> PublishedText::start() {
    started_ = true;
    char magic[2];
    std::size_t got = 0;
    while (got < sizeof magic) {
        auto read = file_.read(magic + got, sizeof magic - got);
        if (!read) return std::move(read).error();
        if (read.value() == 0) break;
        got += read.value();
    }
    if (got == 2 && utils::is_gzip_magic(magic[0], magic[1])) {
        gzip_ = std::make_unique<utils::GzipSource>(file_, std::string_view(magic, got));
        text_ = gzip_.get();
    } else {
        text_ = &file_;
        pending_.assign(magic, magic + got);
    }
    if (auto more = look_ahead(); !more) return std::move(more).error();
    static constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    if (pending_.size() >= 3 && std::equal(kByteOrderMark, kByteOrderMark + 3, pending_.begin())) {
        pending_pos_ = 3;
    }
    for (;;) {
        if (auto more = look_ahead(); !more) return std::move(more).error();
        const unsigned char* at = pending_.data() + pending_pos_;
        const std::size_t held = pending_.size() - pending_pos_;
        if (held == 0) return {};
        const unsigned char* feed = find_feed(at, held);
        const std::size_t length = feed ? static_cast<std::size_t>(feed - at) : held;
        std::size_t first = 0;
        while (first < length && is_blank(at[first])) ++first;
        if (first < length && (at[first] == '#' || at[first] == '%')) {
            ++header_lines_;
            if (auto skipped = skip_rest_of_line(); !skipped) return std::move(skipped).error();
            continue;
        }
        // The first data line, unless it names the columns of a
        // comma-separated file (judged only when it is held whole).
        if ((feed || text_ended_) && is_column_names({at, length})) {
            ++header_lines_;
            pending_pos_ += feed ? length + 1 : length;
        }
        return {};
    }
}

runtime::Result<std::size_t> PublishedText::read(char* buffer, std::size_t capacity) {
    if (!started_) {
        if (auto started = start(); !started) return std::move(started).error();
    }
    if (pending_pos_ < pending_.size()) {
        const std::size_t count = std::min(capacity, pending_.size() - pending_pos_);
        std::memcpy(buffer, pending_.data() + pending_pos_, count);
        pending_pos_ += count;
        if (pending_pos_ == pending_.size()) {
            pending_ = {};
            pending_pos_ = 0;
        }
        commas_to_spaces(buffer, count);
        return count;
    }
    if (text_ended_) return std::size_t{0};
    auto got = text_->read(buffer, capacity);
    if (!got) return std::move(got).error();
    commas_to_spaces(buffer, got.value());
    return got;
}

runtime::Result<Graph> load_published_graph(const std::string& path, utils::TaskMonitor& monitor) {
    if (path_extension(path) == "lz4") return parse_from_file(path, monitor);
    auto file = utils::FileSource::open(path, monitor);
    if (!file) return std::move(file).error();
    PublishedText text(file.value());
    auto graph = parse_edgelist_from_reader(text, monitor);
    if (!graph) return text.in_file(std::move(graph).error());
    return graph;
}

runtime::Result<Clustering> load_published_clustering(const Graph& graph, const std::string& path,
                                                      ClusteringLayout layout,
                                                      const ClusteringOptions& options) {
    auto file = utils::FileSource::open(path);
    if (!file) return std::move(file).error();
    PublishedText text(file.value());
    const TextLoadOptions load{.pool = options.pool};
    auto clustering = layout == ClusteringLayout::kCommunities
                          ? parse_communities_from_reader(graph, text, load, options.strict)
                          : Clustering::parse_from_reader(graph, text, load, options.strict);
    if (!clustering) return text.in_file(std::move(clustering).error());
    return clustering;
}

}  // namespace quelmar::base
