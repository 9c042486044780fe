#include "run/settled_settings.hpp"

#include "analysis/rule_catalog.hpp"
#include "base/path_names.hpp"

namespace keyhound {
namespace {

template <class Value>
const Value* given_as(const SettingLayers& layers, SettingId id) {
  const GivenSetting* given = layers.value(id);
  return given == nullptr ? nullptr : std::get_if<Value>(&given->value);
}

bool flag(const SettingLayers& layers, SettingId id, bool otherwise) {
  const bool* value = given_as<bool>(layers, id);
  return value == nullptr ? otherwise : *value;
}

// Precise unless asked for the module's rule. Of `exact` and `precise`,
// the one given last decides; given together by one source, both true is
// a contradiction.
std::expected<bool, std::string> settle_precise(const SettingLayers& layers) {
  const GivenSetting* exact = layers.value(SettingId::Exact);
  const GivenSetting* precise = layers.value(SettingId::Precise);
  if (exact == nullptr && precise == nullptr) return true;
  const bool exact_later = precise == nullptr || (exact != nullptr && exact->order > precise->order);
  const GivenSetting* later = exact_later ? exact : precise;
  const GivenSetting* other = exact_later ? precise : exact;
  if (other != nullptr && other->origin == later->origin && other->place == later->place) {
    const bool exact_value = std::get<bool>(exact->value);
    const bool precise_value = std::get<bool>(precise->value);
    if (exact_value && precise_value) {
      return std::unexpected(later->place + ": 'exact' and 'precise' cannot both be true");
    }
    return !exact_value && precise_value;
  }
  const bool value = std::get<bool>(later->value);
  return exact_later ? !value : value;
}

std::vector<ExclusionPattern> patterns_of(const GivenSetting& given) {
  return exclusion_patterns(std::get<std::vector<std::string>>(given.value), given.directory);
}

void settle_exclusions(const SettingLayers& layers, const std::string& working_directory,
                       SettledSettings& settled) {
  const GivenSetting* exclude = layers.value(SettingId::Exclude);
  settled.exclusions = exclude != nullptr
                           ? patterns_of(*exclude)
                           : exclusion_patterns(default_exclusions(), working_directory);
  for (const GivenSetting& extra : layers.values(SettingId::ExtendExclude)) {
    auto patterns = patterns_of(extra);
    settled.exclusions.insert(settled.exclusions.end(), patterns.begin(), patterns.end());
  }
  settled.force_exclude = flag(layers, SettingId::ForceExclude, false);
  settled.respect_gitignore = flag(layers, SettingId::RespectGitignore, true);
}

void settle_selection(const SettingLayers& layers, const std::string& project_root,
                      const SettingDefaults& defaults, SettledSettings& settled) {
  CodeSelection& selection = settled.selection;
  using Codes = std::vector<std::string>;
  if (const Codes* codes = given_as<Codes>(layers, SettingId::Select)) selection.select = *codes;
  if (const Codes* codes = given_as<Codes>(layers, SettingId::Ignore)) selection.ignore = *codes;
  for (const GivenSetting& given : layers.values(SettingId::PerFileIgnores)) {
    for (const auto& [glob, codes] : std::get<GlobCodes>(given.value)) {
      selection.per_file_ignores.emplace_back(ExclusionPattern(glob, given.directory), codes);
    }
  }
  if (!settled.precise) return;
  // Precise mode ranks its findings; the module's rule reports them all.
  selection.min_confidence = defaults.min_confidence;
  if (const std::string* tier = given_as<std::string>(layers, SettingId::MinConfidence)) {
    selection.min_confidence = confidence_named(*tier);
  }
  // Test code is reported by the module's rule only, or when asked for.
  if (flag(layers, SettingId::IncludeTests, false)) return;
  const GivenSetting* test_paths = layers.value(SettingId::TestPaths);
  selection.test_code = test_paths != nullptr
                            ? patterns_of(*test_paths)
                            : exclusion_patterns(default_test_paths(), project_root);
  selection.project_root = project_root;
}

std::optional<std::string> absolute_given(const SettingLayers& layers, SettingId id) {
  const GivenSetting* given = layers.value(id);
  if (given == nullptr) return std::nullopt;
  return absolute_path(std::get<std::string>(given->value), given->directory);
}

}  // namespace

AnalysisOptions SettledSettings::analysis() const {
  return AnalysisOptions{!ignore_noqa, precise,
                         precise && !ignore_noqa &&
                             selects_unused_suppressions(selection.select)};
}

std::expected<SettledSettings, std::string> settle_settings(const SettingLayers& layers,
                                                            const std::string& working_directory,
                                                            const std::string& project_root,
                                                            const SettingDefaults& defaults) {
  SettledSettings settled;
  auto precise = settle_precise(layers);
  if (!precise) return std::unexpected(precise.error());
  settled.precise = *precise;
  settled.ignore_noqa = flag(layers, SettingId::IgnoreNoqa, false);
  if (const auto* jobs = given_as<std::uint64_t>(layers, SettingId::Jobs)) settled.jobs = *jobs;
  if (const auto* format = given_as<std::string>(layers, SettingId::OutputFormat)) {
    settled.output_format = *format;
  }
  settle_exclusions(layers, working_directory, settled);
  settle_selection(layers, project_root, defaults, settled);
  settled.cache_dir = absolute_given(layers, SettingId::CacheDir);
  if (const GivenSetting* cache = layers.value(SettingId::CacheDir)) {
    settled.cache_dir_origin = cache->origin;
  }
  // A baseline named on the command line keeps its name in messages.
  if (const GivenSetting* baseline = layers.value(SettingId::Baseline)) {
    settled.baseline = baseline->origin == SettingOrigin::CommandLine
                           ? std::get<std::string>(baseline->value)
                           : *absolute_given(layers, SettingId::Baseline);
  }
  return settled;
}

}  // namespace keyhound
