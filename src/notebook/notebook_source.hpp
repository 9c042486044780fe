#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/findings.hpp"

namespace keyhound {

// A Jupyter notebook's code as one module: its code cells in order, each
// ending with a line feed, and where each starts. IPython's own syntax
// (`%magic`, `!shell`, `obj?`, a `%%cell` magic) is blanked line by line,
// so that every other line keeps its row within its cell and its columns.
struct NotebookSource {
  std::string text;
  std::vector<NotebookCell> cells;
};

// Whether a path names a notebook (`*.ipynb`).
bool is_notebook_path(std::string_view path);

// The code of a notebook (nbformat 4) from its JSON text. A text that is
// not a notebook gives the reason. A notebook in another language (an R
// kernel's) gives no code.
std::expected<NotebookSource, std::string> notebook_source(std::string_view json);

}  // namespace keyhound
