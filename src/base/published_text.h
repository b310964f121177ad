#pragma once
// The companion's reading of text files as they are published, on top of the
// module's own grammar (which quelmar.Graph and quelmar.Clustering keep):
//
// - gzip data, recognised by its magic number rather than by name, is
//   inflated as it is read (src/utils/gzip_source.h); the text is then read
//   exactly as the plain file would be;
// - header lines are skipped: every line before the first data line whose
//   first character other than a space or tab is "#" or "%" (as SNAP and
//   KONECT write them), and then, when it holds a comma, a first line none of
//   whose first two tokens is a number ("source,target"); a UTF-8 byte order
//   mark before them is dropped too. Errors count skipped lines, so they name
//   the file's own line numbers; a comment after data has begun is an
//   ordinary bad line;
// - a comma separates tokens as white space does ("0,1", "0, 1").
//
// A path whose extension is "lz4" stays a snapshot, by name, as the module
// reads it. Comment and header lines are looked at within their first
// kHeaderLookahead bytes; longer comment lines are skipped piece by piece.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/result.h"
#include "src/base/clustering.h"
#include "src/base/graph.h"
#include "src/utils/byte_source.h"
#include "src/utils/task_monitor.h"

namespace quelmar::base {

class PublishedText final : public utils::ByteSource {
public:
    static constexpr std::size_t kHeaderLookahead = std::size_t{1} << 16;

    // `file` must outlive the text.
    explicit PublishedText(utils::ByteSource& file);
    PublishedText(const PublishedText&) = delete;  // holds the inflater
    PublishedText& operator=(const PublishedText&) = delete;
    ~PublishedText() override;

    runtime::Result<std::size_t> read(char* buffer, std::size_t capacity) override;

    // Lines skipped as headers so far (all of them once data has been read).
    std::uint64_t header_lines() const noexcept { return header_lines_; }
    // The same error with its line counted in the file, headers included.
    runtime::Error in_file(runtime::Error error) const;

private:
    runtime::Result<void> start();
    runtime::Result<bool> look_ahead();
    runtime::Result<void> skip_rest_of_line();
    runtime::Result<std::size_t> read_text(char* buffer, std::size_t capacity);

    utils::ByteSource& file_;
    std::unique_ptr<utils::ByteSource> gzip_;
    utils::ByteSource* text_ = nullptr;   // the file, or its inflated bytes
    std::vector<unsigned char> pending_;  // read from text_, not yet handed out
    std::size_t pending_pos_ = 0;
    bool text_ended_ = false;
    bool started_ = false;
    std::uint64_t header_lines_ = 0;
};

enum class ClusteringLayout { kMemberships, kCommunities };

// A graph file as published: a snapshot by name, else an edge list through
// PublishedText.
runtime::Result<Graph> load_published_graph(
    const std::string& path, utils::TaskMonitor& monitor = utils::TaskMonitor::unwatched());

// A clustering file as published, in either layout.
runtime::Result<Clustering> load_published_clustering(const Graph& graph, const std::string& path,
                                                      ClusteringLayout layout,
                                                      const ClusteringOptions& options = {});

}  // namespace quelmar::base
