#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace keyhound {

// One gitignore-style exclusion pattern. A pattern without a slash (but for
// a trailing one) matches any single component of a path: `build` skips
// every directory or file named build, `*.pyc` every such file. A pattern
// with a slash is anchored to the directory it was given against (the
// working directory on the command line, the configuration file's
// directory in a configuration) and matches whole paths, `**` standing for
// any number of components. A trailing slash matches directories only.
// `*`, `?` and `[...]` match within one component.
class ExclusionPattern {
 public:
  ExclusionPattern(std::string_view pattern, std::string_view base_directory);

  // `components` are the components of the path to test below the point
  // where matching starts (for a file found in a walked directory, those
  // below the directory named; for a named path, all of them), `absolute`
  // its absolute normalised form. A path also matches when one of its
  // ancestors does.
  bool matches(const std::vector<std::string>& components, std::string_view absolute,
               bool is_directory) const;

 private:
  bool anchored_ = false;
  bool directory_only_ = false;
  // For an anchored pattern, the components of its absolute form.
  std::vector<std::string> parts_;
};

// The directories and files skipped by default wherever they stand.
const std::vector<std::string>& default_exclusions();

// Patterns from option values, each of which may hold a comma-separated
// list.
std::vector<ExclusionPattern> exclusion_patterns(const std::vector<std::string>& values,
                                                 std::string_view base_directory);

// Whether any of `patterns` matches.
bool is_excluded(const std::vector<ExclusionPattern>& patterns,
                 const std::vector<std::string>& components, std::string_view absolute,
                 bool is_directory);

}  // namespace keyhound
