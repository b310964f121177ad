// quelmar-snapshot: converts a graph file into a snapshot, which
// quelmar.Graph loads without parsing. The graph is loaded with the module's
// own loader (so the snapshot holds exactly the graph the module would build
// from the same file) and written atomically: a failed or interrupted run
// leaves no output file, and an existing one unchanged.
//
// Exit status: 0 on success, 1 when loading or writing fails, 2 for a usage
// error; on SIGINT, SIGTERM or SIGHUP the program cleans up and then dies of
// that signal.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "src/base/graph_loader.h"
#include "src/base/path_extension.h"
#include "src/terminal/status_line.h"
#include "src/utils/snapshot_writer.h"

namespace quelmar::tools {
namespace {

using terminal::StatusLine;
using utils::TaskMonitor;
using utils::TaskProgress;

constexpr std::string_view kProgram = "quelmar-snapshot";
constexpr std::string_view kUsage =
    "usage: quelmar-snapshot [-q] GRAPH OUT.lz4\n"
    "\n"
    "Loads GRAPH (an edge list: two node names per line; or a snapshot) the way\n"
    "quelmar.Graph does and writes it to OUT.lz4 as a snapshot, which\n"
    "quelmar.Graph loads several times faster. OUT.lz4 is replaced only once the\n"
    "new snapshot is complete.\n"
    "\n"
    "  -q, --quiet    no progress display and no summary\n"
    "  -h, --help     show this text\n"
    "      --version  show the version\n";

volatile std::sig_atomic_t g_signal = 0;

void note_signal(int signal) { g_signal = signal; }

// Without SA_RESTART, so that a read blocked on a pipe returns and the
// loader can notice the stop.
void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Dies of the signal that stopped the run, as the shell expects.
[[noreturn]] void die_of_signal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

void print_error(std::string_view what, const std::string& path, const runtime::Error& error) {
    std::fprintf(stderr, "%.*s: %.*s %s: %s\n", static_cast<int>(kProgram.size()), kProgram.data(),
                 static_cast<int>(what.size()), what.data(), path.c_str(), error.report().c_str());
}

int usage_error(const char* message) {
    const std::string_view first_line = kUsage.substr(0, kUsage.find('\n') + 1);
    std::fprintf(stderr, "%.*s: %s\n%.*s(--help tells more)\n", static_cast<int>(kProgram.size()),
                 kProgram.data(), message, static_cast<int>(first_line.size()), first_line.data());
    return 2;
}

struct Arguments {
    bool quiet = false;
    std::string input;
    std::string output;
};

// What the command line asks for: a conversion, or leaving at once with this
// exit status (after --help, --version or a usage error, already reported).
using Request = std::variant<Arguments, int>;

Request parse_arguments(int argc, char** argv) {
    Arguments arguments;
    std::vector<std::string> paths;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!options_done && (arg == "-h" || arg == "--help")) {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        } else if (!options_done && arg == "--version") {
            std::printf("%.*s %s\n", static_cast<int>(kProgram.size()), kProgram.data(),
                        QUELMAR_VERSION);
            return 0;
        } else if (!options_done && (arg == "-q" || arg == "--quiet")) {
            arguments.quiet = true;
        } else if (!options_done && arg == "--") {
            options_done = true;
        } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
            return usage_error(("unknown option " + std::string(arg)).c_str());
        } else {
            paths.emplace_back(arg);
        }
    }
    if (paths.size() != 2) return usage_error("expected a graph file and an output file");
    // quelmar.Graph picks the format by this extension: any other name would
    // be read back as an edge list.
    if (base::path_extension(paths[1]) != "lz4") {
        return usage_error("the output file name must end in .lz4");
    }
    arguments.input = std::move(paths[0]);
    arguments.output = std::move(paths[1]);
    return arguments;
}

// Draws each stage's progress; says stop once a stop signal arrived.
TaskMonitor::Callback show_progress(StatusLine& status) {
    return [&status](const TaskProgress& progress) {
        if (g_signal != 0) return false;
        switch (progress.stage) {
            case TaskProgress::Stage::kReading:
                status.show("reading", progress.done, progress.total, true);
                break;
            case TaskProgress::Stage::kBuilding:
                status.show("building", progress.done, progress.total, false);
                break;
            case TaskProgress::Stage::kWriting:
                status.show("writing", progress.done, progress.total, true);
                break;
        }
        return true;
    };
}

// Ends a failed run: of the stop signal when one arrived, else with the
// reason on standard error and exit status 1.
int give_up(StatusLine& status, std::string_view what, const std::string& path,
            const runtime::Error& error) {
    status.clear();
    if (g_signal != 0) die_of_signal(g_signal);
    print_error(what, path, error);
    return 1;
}

void print_summary(const std::string& output, const base::Graph& graph,
                   std::chrono::steady_clock::time_point start) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %llu nodes, %llu edges (%.1f s)\n", output.c_str(),
                static_cast<unsigned long long>(graph.node_count()),
                static_cast<unsigned long long>(graph.m_cache()), seconds);
}

int convert(const Arguments& arguments) {
    catch_stop_signals();
    const auto start = std::chrono::steady_clock::now();
    StatusLine status(STDERR_FILENO, !arguments.quiet);
    TaskMonitor monitor(show_progress(status));

    auto loaded = base::parse_from_file(arguments.input, monitor);
    if (!loaded) return give_up(status, "cannot load", arguments.input, loaded.error());
    const base::Graph& graph = loaded.value();
    const utils::SnapshotContent content{graph.name_set(), graph.offsets(), graph.all_neighbours(),
                                         graph.m_cache()};
    auto written = utils::write_compressed_bincode(arguments.output, content, monitor);
    status.clear();
    if (!written) return give_up(status, "cannot write", arguments.output, written.error());
    if (!arguments.quiet) print_summary(arguments.output, graph, start);
    return 0;
}

}  // namespace
}  // namespace quelmar::tools

int main(int argc, char** argv) {
    const quelmar::tools::Request request = quelmar::tools::parse_arguments(argc, argv);
    if (const int* exit_status = std::get_if<int>(&request)) return *exit_status;
    return quelmar::tools::convert(std::get<quelmar::tools::Arguments>(request));
}
