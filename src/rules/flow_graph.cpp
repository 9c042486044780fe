#include "rules/flow_graph.hpp"

#include <algorithm>
#include <functional>
#include <queue>

#include "rules/key_text.hpp"

namespace keyhound {
namespace {

// Where the bracket opened at `at` closes (one past it), strings skipped.
std::size_t past_bracket(std::string_view text, std::size_t at) {
  int depth = 0;
  std::size_t i = at;
  while (i < text.size()) {
    char c = text[i];
    if (c == '"' || c == '\'') {
      i = end_of_string(text, i);
      continue;
    }
    if (c == '(' || c == '[' || c == '{') ++depth;
    if ((c == ')' || c == ']' || c == '}') && --depth == 0) return i + 1;
    ++i;
  }
  return text.size();
}

// Every expression a text mentions as a whole, outside its strings: from
// each name not after a dot, each longer chain of attributes, subscripts
// and calls (`a`, `a.b`, `a.b[k]` in `f(a.b[k])`). A kill of a name,
// attribute or subscript undoes exactly the facts one of whose texts has
// it among these.
template <typename Visit>
void for_each_mentioned(std::string_view text, Visit visit) {
  std::size_t at = 0;
  while (at < text.size()) {
    char c = text[at];
    if (c == '"' || c == '\'') {
      at = end_of_string(text, at);
      continue;
    }
    if (!is_identifier_char(c) || (at > 0 && (text[at - 1] == '.' || is_identifier_char(text[at - 1])))) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && is_identifier_char(text[end])) ++end;
    std::size_t name_end = end;
    visit(text.substr(at, end - at));
    while (end < text.size()) {
      if (text[end] == '.') {
        std::size_t next = end + 1;
        while (next < text.size() && is_identifier_char(text[next])) ++next;
        if (next == end + 1) break;
        end = next;
      } else if (text[end] == '[' || text[end] == '(') {
        end = past_bracket(text, end);
      } else {
        break;
      }
      visit(text.substr(at, end - at));
    }
    at = name_end;
  }
}

std::string_view first_name(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() && is_identifier_char(text[end])) ++end;
  return text.substr(0, end);
}

std::string joined(std::string_view object, std::string_view key) {
  std::string text;
  text.reserve(object.size() + key.size() + 1);
  text.append(object);
  text.push_back('\0');
  text.append(key);
  return text;
}

}  // namespace

FactId FactTable::intern(std::string object, std::string key, FactOrigin origin) {
  auto [found, added] = by_text_.try_emplace(joined(object, key), static_cast<FactId>(facts_.size()));
  if (added) facts_.push_back({std::move(object), std::move(key), origin});
  return found->second;
}

FactId FactTable::find(std::string_view object, std::string_view key) const {
  auto found = by_text_.find(joined(object, key));
  return found == by_text_.end() ? kNone : found->second;
}

uint32_t FactTable::kill(std::string text, bool object_only) {
  std::string name = text;
  name.push_back(object_only ? '\1' : '\2');
  auto [found, added] = kill_by_text_.try_emplace(std::move(name), static_cast<uint32_t>(kills_.size()));
  if (added) kills_.push_back({std::move(text), object_only, {}});
  return found->second;
}

void FactTable::resolve_kills() {
  std::unordered_map<std::string_view, std::vector<FactId>> by_text;
  for (FactId fact = 0; fact < facts_.size(); ++fact) {
    auto add = [&](std::string_view mentioned) {
      std::vector<FactId>& list = by_text[mentioned];
      if (list.empty() || list.back() != fact) list.push_back(fact);
    };
    for_each_mentioned(facts_[fact].object, add);
    for_each_mentioned(facts_[fact].key, add);
  }
  for (Kill& kill : kills_) {
    auto undoes = [&](FactId fact) {
      return mentions(facts_[fact].object, kill.text) ||
             (!kill.object_only && mentions(facts_[fact].key, kill.text));
    };
    if (first_name(kill.text).empty()) {
      // `(a).b`: rare enough to look at every fact.
      for (FactId fact = 0; fact < facts_.size(); ++fact) {
        if (undoes(fact)) kill.facts.push_back(fact);
      }
      continue;
    }
    auto candidates = by_text.find(kill.text);
    if (candidates == by_text.end()) continue;
    for (FactId fact : candidates->second) {
      if (undoes(fact)) kill.facts.push_back(fact);
    }
  }
}

namespace {

// The blocks in reverse post-order from the entry, which visits a loop's
// head before its body: most blocks are then done once.
std::vector<uint32_t> reverse_post_order_ranks(const FlowGraph& graph) {
  const std::size_t count = graph.blocks.size();
  std::vector<uint32_t> rank(count, FlowBlock::kNoBlock);
  std::vector<uint8_t> seen(count, 0);
  std::vector<uint32_t> post_order;
  // (block, next successor to look at; the handler comes last)
  std::vector<std::pair<uint32_t, std::size_t>> stack{{0, 0}};
  seen[0] = 1;
  while (!stack.empty()) {
    auto& [block, next] = stack.back();
    const FlowBlock& node = graph.blocks[block];
    std::size_t outs = node.successors.size() + 1;
    if (next == outs) {
      post_order.push_back(block);
      stack.pop_back();
      continue;
    }
    uint32_t target = next < node.successors.size() ? node.successors[next] : node.handler;
    ++next;
    if (target != FlowBlock::kNoBlock && !seen[target]) {
      seen[target] = 1;
      stack.emplace_back(target, 0);
    }
  }
  uint32_t position = 0;
  for (auto it = post_order.rbegin(); it != post_order.rend(); ++it) rank[*it] = position++;
  return rank;
}

}  // namespace

FlowAnswers solve_flow(const FlowGraph& graph) {
  FlowAnswers result;
  std::vector<FactId>& answers = result.proof;
  answers.assign(graph.queries.size(), FactTable::kNone);
  result.masks.assign(graph.queries.size(), ProbeMasks{});
  if (graph.blocks.empty()) return result;
  // Where each query's probes begin.
  std::vector<uint32_t> first_probe(graph.queries.size() + 1, 0);
  for (const FlowProbe& probe : graph.probes) ++first_probe[probe.query + 1];
  for (std::size_t i = 0; i < graph.queries.size(); ++i) first_probe[i + 1] += first_probe[i];
  const std::vector<uint32_t> rank = reverse_post_order_ranks(graph);
  const std::size_t fact_count = graph.facts.size();

  std::vector<std::vector<FactId>> in(graph.blocks.size());
  std::vector<uint8_t> reached(graph.blocks.size(), 0);
  std::vector<uint8_t> queued(graph.blocks.size(), 0);
  using Entry = std::pair<uint32_t, uint32_t>;  // (rank, block)
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> work;

  in[0] = graph.initial;
  std::sort(in[0].begin(), in[0].end());
  in[0].erase(std::unique(in[0].begin(), in[0].end()), in[0].end());
  reached[0] = 1;
  work.emplace(rank[0], 0);
  queued[0] = 1;

  std::vector<uint8_t> holds(fact_count, 0);
  std::vector<uint8_t> killed(fact_count, 0);
  std::vector<FactId> members;
  std::vector<FactId> killed_list;
  std::vector<FactId> out;
  std::vector<FactId> merged;

  auto merge = [&](uint32_t target, const std::vector<FactId>& state) {
    if (!reached[target]) {
      reached[target] = 1;
      in[target] = state;
    } else {
      merged.clear();
      std::set_intersection(in[target].begin(), in[target].end(), state.begin(), state.end(),
                            std::back_inserter(merged));
      if (merged.size() == in[target].size()) return;
      in[target].swap(merged);
    }
    if (!queued[target]) {
      queued[target] = 1;
      work.emplace(rank[target], target);
    }
  };

  while (!work.empty()) {
    uint32_t block = work.top().second;
    work.pop();
    queued[block] = 0;
    const FlowBlock& node = graph.blocks[block];
    result.steps += in[block].size() + node.events.size() + 1;
    if (result.steps > kMostFlowSteps) {
      result.gave_up = true;
      answers.assign(graph.queries.size(), FactTable::kNone);
      result.masks.assign(graph.queries.size(), ProbeMasks{});
      return result;
    }
    members = in[block];
    for (FactId fact : members) holds[fact] = 1;
    for (const FlowEvent& event : node.events) {
      switch (event.kind) {
        case FlowEvent::Kind::Gen:
          if (!holds[event.value]) {
            holds[event.value] = 1;
            members.push_back(event.value);
          }
          break;
        case FlowEvent::Kind::Kill:
          for (FactId fact : graph.facts.killed_by(event.value)) {
            holds[fact] = 0;
            if (!killed[fact]) {
              killed[fact] = 1;
              killed_list.push_back(fact);
            }
          }
          break;
        case FlowEvent::Kind::Derive:
          for (const auto& [from, to] : graph.derivations[event.value]) {
            if (holds[from] && !holds[to]) {
              holds[to] = 1;
              members.push_back(to);
            }
          }
          break;
        case FlowEvent::Kind::Query: {
          const FlowQuery& query = graph.queries[event.value];
          FactId answer = FactTable::kNone;
          if (query.fact != FactTable::kNone && holds[query.fact]) {
            answer = query.fact;
          } else if (query.any_container != FactTable::kNone && holds[query.any_container]) {
            answer = query.any_container;
          } else if (query.sequence != FactTable::kNone && holds[query.sequence]) {
            answer = query.sequence;
          }
          answers[event.value] = answer;
          ProbeMasks& masks = result.masks[event.value];
          masks = {};
          for (uint32_t p = first_probe[event.value]; p < first_probe[event.value + 1]; ++p) {
            const FlowProbe& probe = graph.probes[p];
            if (holds[probe.fact]) masks[probe.slot] |= static_cast<uint16_t>(1U << probe.bit);
          }
          break;
        }
      }
    }
    out.clear();
    for (FactId fact : members) {
      if (holds[fact]) out.push_back(fact);
      holds[fact] = 0;
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    for (uint32_t successor : node.successors) merge(successor, out);
    if (node.handler != FlowBlock::kNoBlock) {
      out.clear();
      for (FactId fact : in[block]) {
        if (!killed[fact]) out.push_back(fact);
      }
      merge(node.handler, out);
    }
    for (FactId fact : killed_list) killed[fact] = 0;
    killed_list.clear();
  }
  return result;
}

}  // namespace keyhound
