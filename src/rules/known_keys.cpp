#include "syntax/node_access.hpp"
#include "rules/known_keys.hpp"

#include <algorithm>

#include "syntax/node_text.hpp"
#include "rules/expression_text.hpp"
#include "rules/scopes.hpp"

namespace keyhound {
namespace {

bool is_identifier_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Whether `text` (compacted) mentions the expression `bound` as a whole
// name: `d` in `d`, `d.x` and `f(d)`, not in `od` or `x.d`.
bool mentions(std::string_view text, std::string_view bound) {
  if (bound.empty()) return false;
  for (std::size_t at = text.find(bound); at != std::string_view::npos;
       at = text.find(bound, at + 1)) {
    bool starts = at == 0 || (!is_identifier_char(text[at - 1]) && text[at - 1] != '.');
    std::size_t end = at + bound.size();
    bool ends = end == text.size() || !is_identifier_char(text[end]);
    if (starts && ends) return true;
  }
  return false;
}

// `"text"`, built by appending (g++ 12 warns wrongly of `"\"" + s + "\""`).
std::string quoted(std::string_view text) {
  std::string key;
  key.reserve(text.size() + 2);
  key.push_back('"');
  key.append(text);
  key.push_back('"');
  return key;
}

// Keys are texts compared by value: long ones (rare, and costly to compare
// on hostile input) are never known, and a function knows a bounded number.
constexpr uint32_t kLongestText = 256;
constexpr std::size_t kMostKeys = 256;

uint64_t byte_bits(std::string_view text) {
  uint64_t bits = 0;
  for (char c : text) bits |= uint64_t{1} << (static_cast<unsigned char>(c) & 63);
  return bits;
}

bool is_short(TSNode node) { return end_byte(node) - start_byte(node) <= kLongestText; }

}  // namespace

void KnownKeys::enter(TSNode node, TSSymbol kind, uint32_t depth) {
  if (kind == k_.module || kind == k_.block) {
    blocks_.push_back(depth);
    watch(depth);
  } else if (kind == k_.function_definition || kind == k_.class_definition) {
    definitions_.push_back({depth, node.id});
    watch(depth);
  } else if (kind == k_.for_statement || kind == k_.while_statement) {
    loops_.push_back({depth, node.id});
    watch(depth);
  } else if (kind == k_.delete_statement) {
    std::vector<TSNode> pending{node};
    while (!pending.empty()) {
      TSNode target = pending.back();
      pending.pop_back();
      TSSymbol target_kind = node_kind(target);
      if (target_kind == k_.subscript) {
        deleted_.insert(target.id);
        forget_node(field_child(target, k_.value), true);
      } else if (target_kind == k_.identifier || target_kind == k_.attribute) {
        forget_node(target, false);
      } else {
        uint32_t count = named_child_count(target);
        for (uint32_t i = 0; i < count; ++i) pending.push_back(named_child(target, i));
      }
    }
  } else if (kind == k_.call) {
    on_call(node);
  } else if (kind == k_.assignment) {
    on_assignment(node);
  } else if (kind == k_.augmented_assignment) {
    on_rebinding(field_child(node, k_.left));
  } else if (kind == k_.named_expression) {
    on_rebinding(field_child(node, k_.name));
  }
  // A lambda or a comprehension runs later or not at all, with names of
  // its own: nothing known outside is known in it.
  bool own_names = kind == k_.lambda || kind == k_.list_comprehension ||
                   kind == k_.set_comprehension || kind == k_.dictionary_comprehension ||
                   kind == k_.generator_expression;
  if (own_names) definitions_.push_back({depth, node.id});
  if (own_names) watch(depth);
  if (own_names || kind == k_.boolean_operator || kind == k_.conditional_expression) {
    maybe_not_run_.push_back(depth);
    watch(depth);
  }
}

void KnownKeys::leave(uint32_t depth) {
  // Most nodes close nothing of this: leaving them costs one comparison.
  if (depth > watched_depth_) return;
  // A statement done: what it made known is known from here on.
  // Unless the statement also bound its object or key anew (`d = d[k]`).
  while (!pending_.empty() && pending_.back().statement_depth == depth) {
    Key key = std::move(pending_.back());
    pending_.pop_back();
    bool rebound = !key.by_binding &&
                   std::any_of(rebound_.begin(), rebound_.end(), [&](const auto& bound) {
                     if (bound.first != depth) return false;
                     if (!is_short(bound.second)) return true;
                     std::string text = compact_text(bound.second, source_);
                     return mentions(key.object, text) || mentions(key.key, text);
                   });
    if (!rebound) known_.push_back(std::move(key));
  }
  while (!rebound_.empty() && rebound_.back().first >= depth) rebound_.pop_back();
  if (!blocks_.empty() && blocks_.back() == depth) {
    blocks_.pop_back();
    std::erase_if(known_, [&](const Key& key) { return key.block_depth >= depth; });
  }
  for (auto* stack : {&definitions_, &loops_}) {
    if (!stack->empty() && stack->back().first == depth) stack->pop_back();
  }
  if (!maybe_not_run_.empty() && maybe_not_run_.back() == depth) maybe_not_run_.pop_back();
  watched_depth_ = 0;
  if (!pending_.empty()) watch(pending_.back().statement_depth);
  if (!rebound_.empty()) watch(rebound_.back().first);
  if (!blocks_.empty()) watch(blocks_.back());
  if (!definitions_.empty()) watch(definitions_.back().first);
  if (!loops_.empty()) watch(loops_.back().first);
  if (!maybe_not_run_.empty()) watch(maybe_not_run_.back());
}

void KnownKeys::on_read(TSNode subscript, TSNode object, TSNode index) {
  if (!is_short(object) || !is_short(index)) return;
  std::string object_text = compact_text(object, source_);
  std::string key = key_text(index);
  const void* definition = definitions_.empty() ? nullptr : definitions_.back().second;
  const uint64_t bytes = byte_bits(object_text) | byte_bits(key);
  for (const Key& known : known_) {
    if (known.bytes != bytes || known.definition != definition || known.object != object_text ||
        known.key != key) {
      continue;
    }
    Candidate candidate{subscript.id, object_text, key, {}};
    for (std::size_t i = known.loops; i < loops_.size(); ++i) {
      candidate.loops.push_back(loops_[i].second);
    }
    candidates_.push_back(std::move(candidate));
    return;
  }
  note(std::move(object_text), std::move(key));
}

void KnownKeys::on_store(TSNode object, TSNode index) {
  if (!is_short(object) || !is_short(index)) return;
  note(compact_text(object, source_), key_text(index));
}

void KnownKeys::on_rebinding(TSNode target) {
  if (is_null(target)) return;
  std::vector<TSNode> pending{target};
  while (!pending.empty()) {
    TSNode node = pending.back();
    pending.pop_back();
    TSSymbol kind = node_kind(node);
    if (kind == k_.identifier || kind == k_.attribute || kind == k_.subscript) {
      // Most bindings meet nothing known: their text is needed only then.
      if (!known_.empty() || !pending_.empty()) forget_node(node, false);
      if (!blocks_.empty()) {
        rebound_.emplace_back(blocks_.back() + 1, node);
        watch(blocks_.back() + 1);
      }
      continue;
    }
    uint32_t count = named_child_count(node);
    for (uint32_t i = 0; i < count; ++i) pending.push_back(named_child(node, i));
  }
}

void KnownKeys::note(std::string object, std::string key, bool by_binding) {
  if (on_a_path_that_may_not_run() || blocks_.empty() ||
      known_.size() + pending_.size() >= kMostKeys) {
    return;
  }
  const void* definition = definitions_.empty() ? nullptr : definitions_.back().second;
  uint64_t bytes = byte_bits(object) | byte_bits(key);
  pending_.push_back(Key{std::move(object), std::move(key), definition, loops_.size(),
                         blocks_.back() + 1, blocks_.back(), by_binding, bytes});
  watch(blocks_.back() + 1);
}

// A text too long to compare forgets everything.
void KnownKeys::forget_node(TSNode node, bool object_only) {
  if (is_null(node)) return;
  if (is_short(node)) return forget(compact_text(node, source_), object_only);
  known_.clear();
  pending_.clear();
  candidates_.clear();
}

void KnownKeys::forget(const std::string& text, bool object_only) {
  const uint64_t bytes = byte_bits(text);
  auto stale = [&](const Key& key) {
    if ((key.bytes & bytes) != bytes) return false;
    return mentions(key.object, text) || (!object_only && mentions(key.key, text));
  };
  std::erase_if(known_, stale);
  std::erase_if(pending_, stale);
  if (loops_.empty() || candidates_.empty()) return;
  Forgotten forgotten{text, object_only, {}};
  for (const auto& loop : loops_) forgotten.loops.push_back(loop.second);
  forgotten_.push_back(std::move(forgotten));
}

// `d.pop(k)`, `d.popitem()`, `d.clear()` forget; `d.setdefault(k, v)`
// makes `k` known.
void KnownKeys::on_call(TSNode call) {
  TSNode callee = field_child(call, k_.function);
  if (is_null(callee) || node_kind(callee) != k_.attribute) return;
  TSNode object = field_child(callee, k_.object);
  if (is_null(object)) return;
  std::string_view method = node_text(field_child(callee, k_.attribute_field), source_);
  if (method == "pop" || method == "popitem" || method == "clear") {
    forget_node(object, true);
  } else if (method == "setdefault") {
    TSNode arguments = field_child(call, k_.arguments);
    if (!is_null(arguments) && named_child_count(arguments) > 0) {
      TSNode key = named_child(arguments, 0);
      if (node_kind(key) != k_.keyword_argument) {
        note(compact_text(object, source_), key_text(key));
      }
    }
  }
}

// `d = {"a": ...}`, `d = dict(a=...)`, `k = next(iter(d))`.
void KnownKeys::on_assignment(TSNode assignment) {
  TSNode left = field_child(assignment, k_.left);
  if (is_null(left)) return;
  on_rebinding(left);
  TSNode right = field_child(assignment, k_.right);
  TSSymbol left_kind = node_kind(left);
  if (is_null(right) || (left_kind != k_.identifier && left_kind != k_.attribute)) return;
  std::string bound = compact_text(left, source_);
  TSSymbol right_kind = node_kind(right);
  if (right_kind == k_.dictionary) {
    uint32_t count = named_child_count(right);
    for (uint32_t i = 0; i < count; ++i) {
      TSNode pair = named_child(right, i);
      if (node_kind(pair) != k_.pair) continue;
      TSNode key = field_child(pair, k_.key);
      if (!is_null(key) && node_kind(key) == k_.string) {
        note(bound, key_text(key), true);
      }
    }
    return;
  }
  if (right_kind != k_.call) return;
  std::string_view callee = node_text(field_child(right, k_.function), source_);
  TSNode arguments = field_child(right, k_.arguments);
  if (is_null(arguments) || node_kind(arguments) != k_.argument_list) return;
  uint32_t count = named_child_count(arguments);
  if (callee == "dict") {
    for (uint32_t i = 0; i < count; ++i) {
      TSNode argument = named_child(arguments, i);
      if (node_kind(argument) != k_.keyword_argument) continue;
      TSNode name = field_child(argument, k_.name);
      if (!is_null(name)) note(bound, quoted(node_text(name, source_)), true);
    }
  } else if (callee == "next" && count == 1 && left_kind == k_.identifier) {
    TSNode inner = named_child(arguments, 0);
    if (node_kind(inner) != k_.call ||
        node_text(field_child(inner, k_.function), source_) != "iter") {
      return;
    }
    TSNode iterated = field_child(inner, k_.arguments);
    if (!is_null(iterated) && named_child_count(iterated) == 1) {
      note(compact_text(named_child(iterated, 0), source_), bound, true);
    }
  }
}

// A plain string key in one spelling, whatever its quotes: 'a' is "a".
std::string KnownKeys::key_text(TSNode index) const {
  if (node_kind(index) == k_.string && named_child_count(index) == 3) {
    TSNode start = named_child(index, 0);
    TSNode content = named_child(index, 1);
    std::string_view opening = node_text(start, source_);
    std::string_view prefix = opening.substr(0, opening.find_first_of("'\""));
    if (node_kind(content) == k_.string_content && named_child_count(content) == 0 &&
        (prefix.empty() || prefix == "u" || prefix == "U")) {
      return quoted(node_text(content, source_));
    }
  }
  return compact_text(index, source_);
}

void KnownKeys::settle(PreciseFacts& facts) const {
  for (const Candidate& candidate : candidates_) {
    bool forgotten_later_in_its_loop = std::any_of(
        forgotten_.begin(), forgotten_.end(), [&](const Forgotten& forgotten) {
          if (!mentions(candidate.object, forgotten.text) &&
              (forgotten.object_only || !mentions(candidate.key, forgotten.text))) {
            return false;
          }
          return std::any_of(candidate.loops.begin(), candidate.loops.end(), [&](const void* loop) {
            return std::find(forgotten.loops.begin(), forgotten.loops.end(), loop) !=
                   forgotten.loops.end();
          });
        });
    if (!forgotten_later_in_its_loop) facts.take(candidate.subscript, PreciseRule::KnownKey);
  }
}

}  // namespace keyhound
