// Loads a graph file with the library's loader and writes it as a snapshot
// (src/utils/snapshot_writer.h), for the loading benchmark. The installed
// quelmar-snapshot converter does the same with progress and signal handling.
//
//   quelmar_write_snapshot GRAPH_FILE OUT.lz4

#include <cstdio>

#include "src/base/graph_loader.h"
#include "src/utils/snapshot_writer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quelmar_write_snapshot GRAPH_FILE OUT.lz4\n");
        return 2;
    }
    auto loaded = quelmar::base::parse_from_file(argv[1]);
    if (!loaded) {
        std::fprintf(stderr, "%s\n", loaded.error().report().c_str());
        return 1;
    }
    const quelmar::base::Graph& graph = loaded.value();
    const quelmar::utils::SnapshotContent content{graph.name_set(), graph.offsets(),
                                                  graph.all_neighbours(), graph.m_cache()};
    if (auto written = quelmar::utils::write_compressed_bincode(argv[2], content); !written) {
        std::fprintf(stderr, "%s\n", written.error().report().c_str());
        return 1;
    }
    std::fprintf(stderr, "nodes %llu, edges %llu\n",
                 static_cast<unsigned long long>(graph.node_count()),
                 static_cast<unsigned long long>(graph.m_cache()));
    return 0;
}
