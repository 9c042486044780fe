// Measures keyhound against the floor set by tree-sitter itself.
//
//   keyhound_bench corpus FILE...     (a) parse + one cursor walk per file,
//                                     (b) keyhound's whole per-file path,
//                                     both with output to /dev/null
//   keyhound_bench parse FILE         parse + walk of one file, one process
//   keyhound_bench full FILE          the whole per-file path of one file
//   keyhound_bench walk DIR...        the directory walk alone (discovery,
//                                     .gitignore and exclusions)
//   keyhound_bench modes ROOT FILE... --exact against precise mode: findings
//                                     (in test code too, told against ROOT),
//                                     what each precise rule removed, time
//
// Times are the best of several rounds, single-threaded; memory is the
// process's peak resident set.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/caret_renderer.hpp"
#include "analysis/analyze_file.hpp"
#include "analysis/finding_identity.hpp"
#include "output/line_writer.hpp"
#include "formats/report_format.hpp"
#include "rules/flow_graph.hpp"
#include "rules/key_text.hpp"
#include "rules/precise_rules.hpp"
#include "project/discovery.hpp"
#include "run/file_loop.hpp"
#include "run/lint_input.hpp"
#include "run/report_stage.hpp"
#include "syntax/file_index.hpp"
#include "base/path_names.hpp"
#include "syntax/preorder_walk.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/parse_python.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Keeps the walk from being optimised away.
volatile std::size_t g_sink = 0;

void parse_and_walk(const std::string& path) {
  auto source = keyhound::read_source_file(path);
  if (!source) return;
  keyhound::Tree tree = keyhound::parse_python(*source);
  std::size_t nodes = 0;
  keyhound::walk_preorder(ts_tree_root_node(tree.get()), [&](TSNode) { ++nodes; });
  g_sink = g_sink + nodes;
}

// Read, analyse and render through the default renderer, as the command
// does for each file.
void whole_path(const std::string& path) {
  keyhound::DescriptorWriter out;
  keyhound::FileReport report = *keyhound::lint_file(path);
  keyhound::CaretRenderer().render(report, out);
  g_sink = g_sink + report.findings.size();
}

// The same in precise mode, the native command's default.
void whole_path_precise(const std::string& path) {
  keyhound::DescriptorWriter out;
  keyhound::FileReport report =
      *keyhound::lint_input(keyhound::LintInput{.display = path, .path = path, .is_stdin = false,
                                                .error = {}},
                            keyhound::AnalysisOptions{.honour_suppressions = true, .precise = true},
                            nullptr);
  keyhound::CaretRenderer().render(report, out);
  g_sink = g_sink + report.findings.size();
}

// Read and analyse, in either mode, without rendering: what the analysis
// itself takes (a report is rendered a line at a time).
template <bool Precise>
void analyse_only(const std::string& path) {
  keyhound::FileReport report =
      *keyhound::lint_input(keyhound::LintInput{.display = path, .path = path, .is_stdin = false,
                                                .error = {}},
                            keyhound::AnalysisOptions{.honour_suppressions = true, .precise = Precise},
                            nullptr);
  g_sink = g_sink + report.findings.size();
}

// The nodes of a file's tree, which the analysis's memory follows.
int count_nodes(const std::string& path) {
  auto source = keyhound::read_source_file(path);
  if (!source) return 1;
  keyhound::Tree tree = keyhound::parse_python(*source);
  std::printf("%u\n", keyhound::node_count(keyhound::root_of(tree)));
  return 0;
}

// Points descriptors 1 and 2 at /dev/null while it lives; the results go to
// the saved standard output.
class Silenced {
 public:
  Silenced() : out_(dup(1)), err_(dup(2)) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    close(null);
  }
  ~Silenced() {
    dup2(out_, 1);
    dup2(err_, 2);
    close(out_);
    close(err_);
  }

 private:
  int out_;
  int err_;
};

template <class Step>
double seconds_for(const std::vector<std::string>& files, Step step) {
  Silenced silenced;
  auto start = Clock::now();
  for (const std::string& file : files) step(file);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long peak_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int corpus(const std::vector<std::string>& files) {
  std::size_t bytes = 0;
  for (const std::string& file : files) {
    if (auto source = keyhound::read_source_file(file)) bytes += source->size();
  }
  double floor = 1e300;
  double keyhound = 1e300;
  // Alternate the two so that the machine's drift touches both alike.
  for (int round = 0; round < 5; ++round) {
    floor = std::min(floor, seconds_for(files, parse_and_walk));
    keyhound = std::min(keyhound, seconds_for(files, whole_path));
  }
  std::printf("files: %zu, bytes: %zu\n", files.size(), bytes);
  std::printf("(a) parse + cursor walk:      %.3f s\n", floor);
  std::printf("(b) keyhound per-file path:   %.3f s\n", keyhound);
  std::printf("ratio (b)/(a):                %.3f\n", keyhound / floor);
  std::printf("peak resident memory:         %ld KiB\n", peak_rss_kib());
  return 0;
}

template <class Step>
int one_file(const std::string& file, Step step) {
  std::vector<std::string> files{file};
  double best = 1e300;
  for (int round = 0; round < 3; ++round) best = std::min(best, seconds_for(files, step));
  std::printf("%.6f %ld\n", best, peak_rss_kib());
  return 0;
}

// The lookups a try statement leaves unguarded under each rule: the
// difference is what re-raising handlers add in precise mode.
std::size_t unguarded(const std::string& source, keyhound::GuardRule rule) {
  keyhound::Tree tree = keyhound::parse_python(source);
  return keyhound::index_file(ts_tree_root_node(tree.get()), source, nullptr, rule).accesses.size();
}

// ROOT is the project root, against which test code is told by its path.
int modes(const std::string& root, const std::vector<std::string>& files) {
  std::vector<std::pair<std::string, std::string>> sources;
  for (const std::string& file : files) {
    if (auto source = keyhound::read_source_file(file)) sources.emplace_back(file, std::move(*source));
  }
  keyhound::CodeSelection tests;
  const std::string absolute_root = keyhound::absolute_path(root, keyhound::current_directory());
  tests.test_code = keyhound::exclusion_patterns(keyhound::default_test_paths(), absolute_root);
  tests.project_root = absolute_root;
  struct Counts {
    std::size_t findings = 0;
    std::size_t in_tests = 0;
    // Outside test code: KH001 and KH002 of each tier (high, medium, low).
    std::array<std::array<std::size_t, 3>, 2> tiers{};
  };
  auto run = [&](bool precise, Counts& counts) {
    double best = 1e300;
    for (int round = 0; round < 3; ++round) {
      counts = {};
      auto start = Clock::now();
      for (const auto& [file, source] : sources) {
        keyhound::FileReport report =
            keyhound::analyze_file("f.py", source, keyhound::AnalysisOptions{false, precise});
        std::size_t found = keyhound::count_findings(report);
        counts.findings += found;
        if (tests.is_test_code(keyhound::absolute_path(file, keyhound::current_directory()))) {
          counts.in_tests += found;
          continue;
        }
        for (const keyhound::Finding& finding : report.findings) {
          const keyhound::Risk* risk = keyhound::risk_of(finding);
          if (risk == nullptr) continue;
          std::size_t code = std::holds_alternative<keyhound::CallFinding>(finding) ? 1 : 0;
          ++counts.tiers[code][2 - static_cast<std::size_t>(risk->confidence)];
        }
      }
      best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
  };
  Counts exact;
  Counts precise;
  double exact_time = run(false, exact);
  double precise_time = run(true, precise);
  std::array<std::size_t, static_cast<std::size_t>(keyhound::PreciseRule::Count)> removed{};
  std::size_t reraised = 0;
  std::size_t long_texts = 0;
  uint64_t most_flow_steps = 0;
  std::size_t flows_given_up = 0;
  for (const auto& [file, source] : sources) {
    keyhound::Tree tree = keyhound::parse_python(source);
    keyhound::PreciseFacts facts =
        keyhound::precise_facts(ts_tree_root_node(tree.get()), source);
    for (std::size_t i = 0; i < removed.size(); ++i) removed[i] += facts.removed[i];
    long_texts += facts.long_texts;
    most_flow_steps = std::max(most_flow_steps, facts.most_flow_steps);
    flows_given_up += facts.flows_given_up;
    reraised += unguarded(source, keyhound::GuardRule::ReraiseEscapes) -
                unguarded(source, keyhound::GuardRule::AnyCatcher);
  }
  std::printf("files: %zu\n", sources.size());
  std::printf("findings, --exact:                 %zu (%zu in test code)\n", exact.findings,
              exact.in_tests);
  std::printf("findings, precise with test code:  %zu (%zu in test code)\n", precise.findings,
              precise.in_tests);
  std::printf("findings, precise outside tests:   %zu\n", precise.findings - precise.in_tests);
  for (std::size_t code = 0; code < 2; ++code) {
    const auto& [high, medium, low] = precise.tiers[code];
    std::printf("  %s by confidence:  %zu high, %zu medium, %zu low\n", code == 0 ? "KH001" : "KH002",
                high, medium, low);
  }
  const std::size_t shown = precise.tiers[0][0] + precise.tiers[0][1] + precise.tiers[1][0] +
                            precise.tiers[1][1];
  std::printf("findings, default (medium and up): %zu\n", shown);
  for (std::size_t i = 0; i < removed.size(); ++i) {
    std::printf("  subscripts removed as %-24s %zu\n",
                (std::string(keyhound::kPreciseRuleNames[i]) + ":").c_str(), removed[i]);
  }
  std::printf("  lookups added by re-raising handlers: %zu\n", reraised);
  std::printf("  lookups never proven, a text over %u characters: %zu\n",
              keyhound::kLongestKeyText, long_texts);
  std::printf("  flow steps of the costliest scope: %llu (gives up past %llu; %zu gave up)\n",
              static_cast<unsigned long long>(most_flow_steps),
              static_cast<unsigned long long>(keyhound::kMostFlowSteps), flows_given_up);
  std::printf("time, --exact:            %.3f s\n", exact_time);
  std::printf("time, precise mode:       %.3f s (%.2fx)\n", precise_time,
              precise_time / exact_time);
  return 0;
}

int walk(const std::vector<std::string>& directories) {
  keyhound::DiscoveryOptions options;
  options.working_directory = keyhound::current_directory();
  options.exclusions =
      keyhound::exclusion_patterns(keyhound::default_exclusions(), options.working_directory);
  double best = 1e300;
  std::size_t found = 0;
  for (int round = 0; round < 5; ++round) {
    auto start = Clock::now();
    found = keyhound::discover_inputs(directories, options).size();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::printf("files found: %zu\n", found);
  std::printf("directory walk: %.3f s\n", best);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s corpus FILE... | parse FILE | full FILE | precise FILE | analyse-exact FILE | analyse-precise FILE | nodes FILE | walk DIR...\n", argv[0]);
    return 2;
  }
  std::string mode = argv[1];
  std::vector<std::string> files(argv + 2, argv + argc);
  if (mode == "corpus") return corpus(files);
  if (mode == "parse") return one_file(files.front(), parse_and_walk);
  if (mode == "full") return one_file(files.front(), whole_path);
  if (mode == "precise") return one_file(files.front(), whole_path_precise);
  if (mode == "nodes") return count_nodes(files.front());
  if (mode == "analyse-exact") return one_file(files.front(), analyse_only<false>);
  if (mode == "analyse-precise") return one_file(files.front(), analyse_only<true>);
  if (mode == "walk") return walk(files);
  if (mode == "modes") return modes(files[0], std::vector<std::string>(files.begin() + 1, files.end()));
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
